// Every message box, Yes/No question and input box goes through this, so the
// window can show them and unattended runs and tests can answer them.
#pragma once

#include <string>
#include <string_view>

class TPrompts {
public:
    enum class Icon { None, Information, Warning, Error, Question };

    virtual ~TPrompts() = default;
    virtual void ShowMessage(std::string_view caption, std::string_view text, Icon icon = Icon::None) = 0;
    // true for Yes.
    virtual bool AskYesNo(std::string_view caption, std::string_view text) = 0;
    // true for OK with the edited text in answer; false for Cancel.
    virtual bool InputQuery(std::string_view caption, std::string_view prompt, std::string& answer) = 0;
    // The print dialog before a report is printed while the operator watches
    // it; true for Print. Unattended, nobody is asked.
    virtual bool PrintDialog(std::string_view /*document*/, std::string_view /*printer*/) { return true; }
};
