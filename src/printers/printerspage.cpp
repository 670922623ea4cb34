#include "printers/printerspage.h"

#include "printers/printertable.h"
#include "util/codepage.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

TPrintersPage::TPrintersPage(QWidget* parent) : QWidget(parent)
{
    Printerlist = new QListWidget;
    printernumberedit = new QComboBox;
    PrinterNameCombo = new QComboBox;
    IPEdit = new QLineEdit;
    IPEdit->setToolTip(QStringLiteral("IP Addres Or Host Name"));
    DefaultLabel = new QLabel;
    NewButton = new QPushButton(QStringLiteral("&New"));
    printerupdate = new QPushButton(QStringLiteral("&Update"));
    ChangePrinterButton = new QPushButton(QStringLiteral("Select Printer"));

    MacroValueList = new QTableWidget(0, 2);
    MacroValueList->setHorizontalHeaderLabels({QStringLiteral("OverLay ID"), QStringLiteral("Description")});
    MacroValueList->setColumnWidth(0, 89);
    MacroValueList->setColumnWidth(1, 274);
    MacroValueList->verticalHeader()->hide();
    MacroValueList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    CopyOverlayButton = new QPushButton(QStringLiteral("&Copy Overlay List"));
    CopyOverlayButton->setEnabled(false);
    PasteToListButton = new QPushButton(QStringLiteral("&Paste XXX List to XXXX"));
    PasteToListButton->hide();

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("Number"), printernumberedit);
    fields->addRow(QStringLiteral("Printer"), PrinterNameCombo);
    fields->addRow(QStringLiteral("Host"), IPEdit);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(NewButton);
    buttons->addWidget(printerupdate);
    buttons->addWidget(ChangePrinterButton);
    auto* editing = new QVBoxLayout;
    editing->addLayout(fields);
    editing->addLayout(buttons);
    editing->addWidget(DefaultLabel);
    editing->addStretch();

    auto* top = new QHBoxLayout;
    top->addWidget(Printerlist, 2);
    top->addLayout(editing, 3);

    auto* overlayButtons = new QHBoxLayout;
    overlayButtons->addWidget(CopyOverlayButton);
    overlayButtons->addWidget(PasteToListButton);
    overlayButtons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 3);
    layout->addWidget(MacroValueList, 2);
    layout->addLayout(overlayButtons);
}

void TPrintersPage::Refresh(const TPrinterTable& table)
{
    const QSignalBlocker b1(Printerlist), b2(printernumberedit), b3(PrinterNameCombo), b4(IPEdit);
    Printerlist->clear();
    for (const std::string& line : table.Printerlist())
        Printerlist->addItem(ToUnicode(line));
    Printerlist->setCurrentRow(table.Selected());

    printernumberedit->clear();
    for (const std::string& number : table.NumberBox())
        printernumberedit->addItem(ToUnicode(number));
    printernumberedit->setCurrentIndex(printernumberedit->findText(ToUnicode(table.NumberBoxText())));

    PrinterNameCombo->clear();
    for (const std::string& name : table.PrinterNameCombo)
        PrinterNameCombo->addItem(ToUnicode(name));
    PrinterNameCombo->setCurrentIndex(PrinterNameCombo->findText(ToUnicode(table.PrinterNameText), Qt::MatchFixedString));

    IPEdit->setText(ToUnicode(table.HostText));
    DefaultLabel->setText(ToUnicode(table.DefaultLabel));
}
