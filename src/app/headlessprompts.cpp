#include "app/headlessprompts.h"

#include <string>

void THeadlessPrompts::ShowMessage(std::string_view, std::string_view text, Icon)
{
    FLog.loginfo(text);
}

bool THeadlessPrompts::AskYesNo(std::string_view, std::string_view text)
{
    FLog.loginfo(std::string(text) + "\r\n(No operator to answer: taken as No)");
    return false;
}

bool THeadlessPrompts::InputQuery(std::string_view, std::string_view prompt, std::string&)
{
    FLog.loginfo(std::string(prompt) + " (No operator to answer: cancelled)");
    return false;
}
