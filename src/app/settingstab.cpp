#include "app/settingstab.h"

#include "app/printserver.h"
#include "util/codepage.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpacerItem>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Room between the fields and "Update Now" once the page has it to spare.
constexpr int kButtonGap = 16;

QLineEdit* NewField(QFormLayout* form, const char* label, std::string TSettingsPage::*field, TPrintServer& server)
{
    auto* edit = new QLineEdit;
    form->addRow(QString::fromLatin1(label), edit);
    QObject::connect(edit, &QLineEdit::textEdited, edit,
                     [&server, field](const QString& text) { server.Page().*field = FromUnicode(text); });
    return edit;
}

void Show(QLineEdit* edit, const std::string& text)
{
    const QString value = ToUnicode(text);
    if (edit->text() == value)
        return;
    const QSignalBlocker block(edit);
    const int cursor = edit->cursorPosition();
    edit->setText(value);
    edit->setCursorPosition(std::min<int>(cursor, static_cast<int>(value.size())));
}

}  // namespace

TSettingsTab::TSettingsTab(TPrintServer& server, QWidget* parent) : QWidget(parent), FServer(server)
{
    auto* form = new QFormLayout;
    ResultFilesEdit = NewField(form, "Result Files", &TSettingsPage::ResultFiles, server);
    SpoolerEdit = NewField(form, "Spooler Directory", &TSettingsPage::SpoolerDirectory, server);
    OverlayEdit = NewField(form, "Overlay Directory", &TSettingsPage::OverlayDirectory, server);
    TemplatesEdit = NewField(form, "Letterheads/Templates", &TSettingsPage::Templates, server);
    DefLetterheadEdit = NewField(form, "Default Letterhead", &TSettingsPage::DefaultLetterhead, server);
    PageMarginsEdit = NewField(form, "Page Margins", &TSettingsPage::PageMargins, server);
    LPDDataDelay = NewField(form, "LPD Printer Delay (ms)", &TSettingsPage::LpdDelay, server);
    LPDDataDelay->setToolTip(QStringLiteral("(1-1000 ms)"));
    SpoolServerEdit = NewField(form, "Spooler Server", &TSettingsPage::SpoolServer, server);
    FTPFailOVerCheck = new QCheckBox(QStringLiteral("FTP Failover for Lexmarks and HPs"));
    form->addRow(QString(), FTPFailOVerCheck);

    UpdateButton = new QPushButton(QStringLiteral("Update Now"));
    UpdateButton->setToolTip(QStringLiteral("Update the settings now (otherwise leave until next restart"));
    UpdateButton->setEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(UpdateButton);
    // The button stays close under the fields, and the fields no wider than
    // a long path needs, however large the window.
    auto* column = new QWidget;
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->addLayout(form);
    columnLayout->addItem(new QSpacerItem(0, kButtonGap, QSizePolicy::Minimum, QSizePolicy::Maximum));
    columnLayout->addLayout(buttons);
    columnLayout->addStretch();
    column->setMaximumWidth(96 * fontMetrics().averageCharWidth());
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(column, 1);
    layout->addStretch();

    connect(OverlayEdit, &QLineEdit::textEdited, this, [this] {
        FServer.OverlayEditChange();
        Refresh();
    });
    connect(LPDDataDelay, &QLineEdit::editingFinished, this, [this] { FServer.LPDDataDelayExit(); });
    connect(SpoolServerEdit, &QLineEdit::editingFinished, this, [this] {
        if (!FServer.SpoolServerEditExit())
            SpoolServerEdit->setFocus();
    });
    connect(FTPFailOVerCheck, &QCheckBox::clicked, this, [this](bool checked) {
        FServer.Page().FtpFailover = checked;
        FServer.FTPFailOVerCheckClick();
    });
    connect(UpdateButton, &QPushButton::clicked, this, [this] { FServer.UpdateButtonClick(); });
    connect(&FServer, &TPrintServer::SettingsPageChanged, this, &TSettingsTab::Refresh);
}

void TSettingsTab::Refresh()
{
    const TSettingsPage& page = FServer.Page();
    Show(ResultFilesEdit, page.ResultFiles);
    Show(SpoolerEdit, page.SpoolerDirectory);
    Show(OverlayEdit, page.OverlayDirectory);
    Show(TemplatesEdit, page.Templates);
    Show(DefLetterheadEdit, page.DefaultLetterhead);
    Show(PageMarginsEdit, page.PageMargins);
    Show(LPDDataDelay, page.LpdDelay);
    Show(SpoolServerEdit, page.SpoolServer);
    {
        const QSignalBlocker block(FTPFailOVerCheck);
        FTPFailOVerCheck->setChecked(page.FtpFailover);
    }
    UpdateButton->setEnabled(page.UpdateEnabled);
}
