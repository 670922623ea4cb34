// Prompts shown as the window's modal boxes (Qt keeps dispatching timers
// while one is open, so spool ticks go on underneath).
#pragma once

#include "util/prompts.h"

class QWidget;

class TWidgetPrompts : public TPrompts {
public:
    explicit TWidgetPrompts(QWidget* parent) : FParent(parent) {}
    void ShowMessage(std::string_view caption, std::string_view text, Icon icon) override;
    bool AskYesNo(std::string_view caption, std::string_view text) override;
    bool InputQuery(std::string_view caption, std::string_view prompt, std::string& answer) override;
    bool PrintDialog(std::string_view document, std::string_view printer) override;

private:
    QWidget* FParent;
};
