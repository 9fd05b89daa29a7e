#include "editor/dialogs.h"

#include <FL/Fl_File_Chooser.H>
#include <FL/fl_ask.H>

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

DialogSeam* gDialogSeam = nullptr;

std::string FormatMessage(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    return std::string(buffer.data(), static_cast<size_t>(length));
}

}  // namespace

DialogSeam* SetDialogSeam(DialogSeam* seam) {
    DialogSeam* previous = gDialogSeam;
    gDialogSeam = seam;
    return previous;
}

void ShowAlert(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string message = FormatMessage(format, args);
    va_end(args);
    if (gDialogSeam != nullptr) {
        gDialogSeam->Alert(message);
        return;
    }
    fl_alert("%s", message.c_str());
}

bool AskYesNo(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string question = FormatMessage(format, args);
    va_end(args);
    if (gDialogSeam != nullptr) return gDialogSeam->Ask(question);
    // The toolkit marks fl_ask deprecated for its "Yes"/"No" buttons, which is what we want.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return fl_ask("%s", question.c_str()) == 1;
#pragma GCC diagnostic pop
}

std::string ChooseFile(const char* title, const char* pattern, const std::string& presetPath) {
    if (gDialogSeam != nullptr) return gDialogSeam->ChooseFile(title, pattern, presetPath);
    const char* chosen = fl_file_chooser(title, pattern, presetPath.empty() ? nullptr : presetPath.c_str(), 0);
    return chosen != nullptr ? std::string(chosen) : std::string();
}
