#include "app/headlessprompts.h"

#include <string>

void THeadlessPrompts::ShowMessage(std::string_view, std::string_view text, Icon icon)
{
    // The box's icon says what its text is.
    switch (icon) {
    case Icon::Error: FLog.logerror(text); return;
    case Icon::Warning: FLog.logwarning(text); return;
    case Icon::None:
    case Icon::Information:
    case Icon::Question: break;
    }
    FLog.loginfo(text);
}

bool THeadlessPrompts::AskYesNo(std::string_view, std::string_view text)
{
    FLog.logwarning(std::string(text) + "\r\n(No operator to answer: taken as No)");
    return false;
}

bool THeadlessPrompts::InputQuery(std::string_view, std::string_view prompt, std::string&)
{
    FLog.logwarning(std::string(prompt) + " (No operator to answer: cancelled)");
    return false;
}
