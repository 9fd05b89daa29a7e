// A dialog seam for tests: records every alert, question and chooser call, answers the
// questions and choosers from queues (No and cancel once they run dry), and restores the
// previous seam when it goes out of scope.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "editor/dialogs.h"

struct ChooserCall {
    std::string title, pattern, presetPath;
};

class RecordingDialogs : public DialogSeam {
public:
    std::vector<std::string> alerts;
    std::vector<std::string> questions;
    std::vector<ChooserCall> chooserCalls;
    std::deque<bool> answers;
    std::deque<std::string> choices;

    RecordingDialogs() { previous = SetDialogSeam(this); }
    ~RecordingDialogs() override { SetDialogSeam(previous); }

    void Alert(const std::string& message) override { alerts.push_back(message); }
    bool Ask(const std::string& question) override {
        questions.push_back(question);
        if (answers.empty()) return false;
        bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::string ChooseFile(const std::string& title, const std::string& pattern,
                           const std::string& presetPath) override {
        chooserCalls.push_back({title, pattern, presetPath});
        if (choices.empty()) return std::string();
        std::string choice = choices.front();
        choices.pop_front();
        return choice;
    }

private:
    DialogSeam* previous = nullptr;
};
