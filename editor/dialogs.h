// The one seam through which the GUI shows its modal dialogs. The program always uses the
// toolkit's fl_alert, fl_ask and fl_file_chooser; tests install a DialogSeam that records
// the messages and answers the questions and choosers in-process.
#pragma once

#include <string>

class DialogSeam {
public:
    virtual ~DialogSeam() = default;
    virtual void Alert(const std::string& message) = 0;
    // True for Yes.
    virtual bool Ask(const std::string& question) = 0;
    // The chosen absolute path, or an empty string when the user cancels.
    virtual std::string ChooseFile(const std::string& title, const std::string& pattern,
                                   const std::string& presetPath) = 0;
};

// Replaces the toolkit's dialogs (nullptr restores them). Returns the previous seam.
DialogSeam* SetDialogSeam(DialogSeam* seam);

// printf-style, like the toolkit's calls they stand for. A file name goes into a message
// through PrintableName, as on the terminal.
void ShowAlert(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool AskYesNo(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Empty when cancelled. presetPath may be empty.
std::string ChooseFile(const char* title, const char* pattern, const std::string& presetPath = std::string());
