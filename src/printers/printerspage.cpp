#include "printers/printerspage.h"

#include "printers/overlaylist.h"
#include "printers/printeractions.h"
#include "printers/printertable.h"
#include "util/codepage.h"

#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

void Fill(QComboBox* box, const std::vector<std::string>& items, const std::string& text)
{
    const QSignalBlocker block(box);
    box->clear();
    for (const std::string& item : items)
        box->addItem(ToUnicode(item));
    box->setCurrentIndex(box->findText(ToUnicode(text), Qt::MatchFixedString));
}

}  // namespace

TPrintersPage::TPrintersPage(TPrinterTable& table, TPrinterActions& actions, TOverlayList& overlays, QWidget* parent)
    : QWidget(parent), FTable(table), FActions(actions), FOverlays(overlays)
{
    CreateWidgets();
    LayOut();
    Connect();
}

void TPrintersPage::CreateWidgets()
{
    Printerlist = new QListWidget;
    Printerlist->setContextMenuPolicy(Qt::CustomContextMenu);
    Printerlist->installEventFilter(this);
    printernumberedit = new QComboBox;
    PrinterNameCombo = new QComboBox;
    IPEdit = new QLineEdit;
    IPEdit->setPlaceholderText(QStringLiteral("IP Addres Or Host Name"));
    IPEdit->setToolTip(QStringLiteral("IP Addres Or Host Name"));
    DefaultLabel = new QLabel;
    DefaultLabel->setWordWrap(true);
    NewButton = new QPushButton(QStringLiteral("&New"));
    printerupdate = new QPushButton(QStringLiteral("&Update"));
    ChangePrinterButton = new QPushButton(QStringLiteral("Select Printer"));

    MacroValueList = new QTableWidget(0, 2);
    MacroValueList->setHorizontalHeaderLabels({QStringLiteral("OverLay ID"), QStringLiteral("Description")});
    MacroValueList->setColumnWidth(0, 89);
    MacroValueList->setColumnWidth(1, 274);
    MacroValueList->horizontalHeader()->setStretchLastSection(true);
    MacroValueList->verticalHeader()->hide();
    MacroValueList->verticalHeader()->setDefaultSectionSize(MacroValueList->fontMetrics().height() + 6);
    MacroValueList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    MacroValueList->setSelectionBehavior(QAbstractItemView::SelectRows);
    CopyOverlayButton = new QPushButton(QStringLiteral("&Copy Overlay List"));
    CopyOverlayButton->setEnabled(false);
    PasteToListButton = new QPushButton(QStringLiteral("&Paste XXX List to XXXX"));
    PasteToListButton->hide();

    FPopUp = new QMenu(this);
    FPopUp->addAction(QStringLiteral("&Delete Printer"));
    FPopUp->addAction(QStringLiteral("&Set as Default"));
    FPopUp->addAction(QStringLiteral("Assign &IP Or HostName"));  // does nothing

}

void TPrintersPage::LayOut()
{
    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("Number"), printernumberedit);
    fields->addRow(QStringLiteral("Printer"), PrinterNameCombo);
    fields->addRow(QStringLiteral("Host"), IPEdit);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(NewButton);
    buttons->addWidget(printerupdate);
    buttons->addWidget(ChangePrinterButton);
    // In a box of its own, so that a wide window does not stretch the
    // fields and buttons across it.
    auto* editingBox = new QWidget;
    auto* editing = new QVBoxLayout(editingBox);
    editing->setContentsMargins(0, 0, 0, 0);
    editing->setSpacing(4);  // as the page's own layout, which it no longer inherits
    editing->addLayout(fields);
    editing->addLayout(buttons);
    editing->addWidget(DefaultLabel);
    editing->addStretch();

    editingBox->setMaximumWidth(64 * fontMetrics().averageCharWidth());
    auto* top = new QHBoxLayout;
    top->addWidget(Printerlist, 2);
    top->addWidget(editingBox, 3);
    top->addStretch();

    auto* overlayButtons = new QHBoxLayout;
    overlayButtons->addWidget(CopyOverlayButton);
    overlayButtons->addWidget(PasteToListButton);
    overlayButtons->addStretch();

    // A Lexmark list of three overlays shows whole at the window's first
    // size; the printer list and the fields take what room is left.
    const int threeRows = MacroValueList->horizontalHeader()->sizeHint().height() +
                          3 * MacroValueList->verticalHeader()->defaultSectionSize() +
                          2 * MacroValueList->frameWidth();
    MacroValueList->setMinimumHeight(threeRows);
    Printerlist->setMinimumHeight(0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);
    // Most printers have no overlays: a tall window gives the printer list
    // the larger share.
    layout->addLayout(top, 2);
    layout->addWidget(MacroValueList, 1);
    layout->addLayout(overlayButtons);

    setTabOrder(Printerlist, printernumberedit);
    setTabOrder(printernumberedit, PrinterNameCombo);
    setTabOrder(PrinterNameCombo, IPEdit);
    setTabOrder(IPEdit, printerupdate);
    setTabOrder(printerupdate, NewButton);
    setTabOrder(NewButton, ChangePrinterButton);
    setTabOrder(ChangePrinterButton, MacroValueList);
    setTabOrder(MacroValueList, CopyOverlayButton);
    setTabOrder(CopyOverlayButton, PasteToListButton);

}

// Every event hands the widget's value to the operations, then repaints.
void TPrintersPage::Connect()
{
    using TSender = TPrinterActions::TSender;
    QAction* deleteItem = FPopUp->actions().at(0);
    QAction* defaultItem = FPopUp->actions().at(1);
    auto run = [this](auto action) {
        return [this, action] {
            action();
            Refresh();
        };
    };
    // A click shows the line again even when it is already the selected one.
    const auto showEntry = run([this] {
        FTable.Select(Printerlist->currentRow());
        FActions.ShowPrinterEntry(TSender::PrinterList);
    });
    connect(Printerlist, &QListWidget::currentRowChanged, this, showEntry);
    connect(Printerlist, &QListWidget::itemClicked, this, showEntry);
    connect(printernumberedit, &QComboBox::activated, this, run([this] {
                FTable.SetNumberBoxText(FromUnicode(printernumberedit->currentText()));
                FActions.printernumbereditChange(TSender::NumberBox);
            }));
    connect(PrinterNameCombo, &QComboBox::activated, this, run([this] {
                FTable.PrinterNameText = FromUnicode(PrinterNameCombo->currentText());
                FActions.PrinterNameComboChange();
            }));
    connect(IPEdit, &QLineEdit::textEdited, this, [this](const QString& text) { FTable.HostText = FromUnicode(text); });
    connect(NewButton, &QPushButton::clicked, this, run([this] { FActions.NewButtonClick(); }));
    connect(printerupdate, &QPushButton::clicked, this, run([this] {
                FActions.printerupdateClick();
                if (FActions.NumberNeedsCorrection)
                    printernumberedit->setFocus();
            }));
    connect(Printerlist, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PrinterPopUp()->popup(Printerlist->viewport()->mapToGlobal(at)); });
    connect(deleteItem, &QAction::triggered, this, run([this] { FActions.DeletePrinterClick(); }));
    connect(defaultItem, &QAction::triggered, this, run([this] { FActions.setasdefaultClick(); }));
    connect(CopyOverlayButton, &QPushButton::clicked, this,
            run([this] { FOverlays.CopyOverlayButtonClick(FTable.PrinterNameText); }));
    connect(PasteToListButton, &QPushButton::clicked, this,
            run([this] { FOverlays.PasteToListButtonClick(FTable.PrinterNameText); }));
}

QMenu* TPrintersPage::PrinterPopUp()
{
    FActions.PrinterPopUpPopup();
    FPopUp->actions().front()->setText(ToUnicode(FActions.DeleteCaption));
    return FPopUp;
}

bool TPrintersPage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Printerlist && event->type() == QEvent::KeyRelease) {
        FActions.PrinterlistKeyUp();
        Refresh();
    }
    return QWidget::eventFilter(watched, event);
}

void TPrintersPage::Refresh()
{
    {
        const QSignalBlocker block(Printerlist);
        Printerlist->clear();
        for (const std::string& line : FTable.Printerlist()) {
            // The list is narrow: the whole line is in the hint.
            Printerlist->addItem(ToUnicode(line));
            Printerlist->item(Printerlist->count() - 1)->setToolTip(ToUnicode(line));
        }
        Printerlist->setCurrentRow(FTable.Selected());
        // A wide window gives the list its longest line, within bounds, and
        // not a share of the window: its lines are a number and a name.
        const int charWidth = fontMetrics().averageCharWidth();
        const int lines = Printerlist->sizeHintForColumn(0) + 2 * Printerlist->frameWidth() +
                          style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, Printerlist);
        Printerlist->setMaximumWidth(std::clamp(lines, 24 * charWidth, 48 * charWidth));
    }
    Fill(printernumberedit, FTable.NumberBox(), FTable.NumberBoxText());
    Fill(PrinterNameCombo, FTable.PrinterNameCombo, FTable.PrinterNameText);
    if (IPEdit->text() != ToUnicode(FTable.HostText))
        IPEdit->setText(ToUnicode(FTable.HostText));
    DefaultLabel->setText(ToUnicode(FTable.DefaultLabel));

    MacroValueList->setRowCount(static_cast<int>(FOverlays.Rows.size()));
    for (int row = 0; row < MacroValueList->rowCount(); ++row) {
        const auto& [number, description] = FOverlays.Rows[static_cast<std::size_t>(row)];
        MacroValueList->setItem(row, 0, new QTableWidgetItem(ToUnicode(number)));
        MacroValueList->setItem(row, 1, new QTableWidgetItem(ToUnicode(description)));
    }
    CopyOverlayButton->setEnabled(FOverlays.CopyEnabled);
    PasteToListButton->setText(ToUnicode(FOverlays.PasteCaption));
    PasteToListButton->setVisible(FOverlays.PasteVisible);
}
