// Prompts for unattended runs: nothing blocks. The text goes to the log;
// message boxes count as OK, questions as No (nothing is created or
// overwritten without an operator), input boxes as Cancel.
#pragma once

#include "util/logger.h"
#include "util/prompts.h"

class THeadlessPrompts : public TPrompts {
public:
    explicit THeadlessPrompts(TLogger& log) : FLog(log) {}
    void ShowMessage(std::string_view caption, std::string_view text, Icon icon) override;
    bool AskYesNo(std::string_view caption, std::string_view text) override;
    bool InputQuery(std::string_view caption, std::string_view prompt, std::string& answer) override;

private:
    TLogger& FLog;
};
