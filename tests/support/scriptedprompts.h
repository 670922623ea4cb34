// Prompts answered by the test: records every box and answers questions from
// a script (No when the script is empty), input boxes likewise (Cancel).
#pragma once

#include "util/prompts.h"

#include <deque>
#include <string>
#include <vector>

class TScriptedPrompts : public TPrompts {
public:
    struct TShown {
        std::string Caption;
        std::string Text;
    };

    void ShowMessage(std::string_view caption, std::string_view text, Icon) override
    {
        Messages.push_back({std::string(caption), std::string(text)});
    }
    bool AskYesNo(std::string_view caption, std::string_view text) override
    {
        Questions.push_back({std::string(caption), std::string(text)});
        if (Answers.empty())
            return false;
        const bool yes = Answers.front();
        Answers.pop_front();
        return yes;
    }
    bool InputQuery(std::string_view caption, std::string_view prompt, std::string& answer) override
    {
        Inputs.push_back({std::string(caption), std::string(prompt)});
        Presets.push_back(answer);
        if (InputAnswers.empty())
            return false;
        answer = InputAnswers.front();
        InputAnswers.pop_front();
        return true;
    }

    std::vector<TShown> Messages;
    std::vector<TShown> Questions;
    std::vector<TShown> Inputs;
    std::vector<std::string> Presets;  // the text each input box opened with
    std::deque<bool> Answers;
    std::deque<std::string> InputAnswers;
};
