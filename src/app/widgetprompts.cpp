#include "app/widgetprompts.h"

#include "util/codepage.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

QString Caption(std::string_view caption)
{
    return caption.empty() ? QApplication::applicationName() : ToUnicode(caption);
}

QMessageBox::Icon BoxIcon(TPrompts::Icon icon)
{
    switch (icon) {
    case TPrompts::Icon::Information: return QMessageBox::Information;
    case TPrompts::Icon::Warning: return QMessageBox::Warning;
    case TPrompts::Icon::Error: return QMessageBox::Critical;
    case TPrompts::Icon::Question: return QMessageBox::Question;
    case TPrompts::Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void TWidgetPrompts::ShowMessage(std::string_view caption, std::string_view text, Icon icon)
{
    QMessageBox box(BoxIcon(icon), Caption(caption), ToUnicode(text), QMessageBox::Ok, FParent);
    box.exec();
}

bool TWidgetPrompts::AskYesNo(std::string_view caption, std::string_view text)
{
    QMessageBox box(QMessageBox::Question, Caption(caption), ToUnicode(text), QMessageBox::Yes | QMessageBox::No, FParent);
    return box.exec() == QMessageBox::Yes;
}

bool TWidgetPrompts::InputQuery(std::string_view caption, std::string_view prompt, std::string& answer)
{
    bool ok = false;
    const QString text = QInputDialog::getText(FParent, Caption(caption), ToUnicode(prompt), QLineEdit::Normal,
                                               ToUnicode(answer), &ok);
    if (ok)
        answer = FromUnicode(text);
    return ok;
}

bool TWidgetPrompts::PrintDialog(std::string_view document, std::string_view printer)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Print"),
                    QStringLiteral("Print %1 on %2?").arg(ToUnicode(document), ToUnicode(printer)),
                    QMessageBox::Ok | QMessageBox::Cancel, FParent);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("&Print"));
    return box.exec() == QMessageBox::Ok;
}
