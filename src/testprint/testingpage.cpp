#include "testprint/testingpage.h"

#include "testprint/testprint.h"
#include "util/codepage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace {

QLabel* FieldLabel(const char* text, QWidget* buddy)
{
    auto* label = new QLabel(QString::fromLatin1(text));
    QFont font = label->font();
    font.setPointSize(10);
    label->setFont(font);
    label->setBuddy(buddy);
    return label;
}

QComboBox* Box(bool editable)
{
    auto* box = new QComboBox;
    box->setEditable(editable);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setMinimumContentsLength(12);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    return box;
}

void Fill(QComboBox* box, const std::vector<std::string>& items, const std::string& text)
{
    const QSignalBlocker block(box);
    QStringList wanted;
    for (const std::string& item : items)
        wanted << ToUnicode(item);
    QStringList shown;
    for (int i = 0; i < box->count(); ++i)
        shown << box->itemText(i);
    if (shown != wanted) {
        box->clear();
        box->addItems(wanted);
    }
    if (box->isEditable()) {
        if (box->currentText() != ToUnicode(text))
            box->setEditText(ToUnicode(text));
    } else {
        box->setCurrentIndex(box->findText(ToUnicode(text)));
    }
}

}  // namespace

TTestingPage::TTestingPage(TTestPrint& test, QWidget* parent) : QWidget(parent), FTest(test)
{
    BuildForm();
    Connect();
}

void TTestingPage::BuildForm()
{
    TestlhEdit = Box(true);
    TestProcEdit = Box(true);
    TestPrintNum = Box(false);
    OverlayCombo = Box(false);
    PaperTrayCombo = Box(true);
    OverlayLabel = FieldLabel("Overylay", OverlayCombo);
    Validatedchecked = new QCheckBox(QStringLiteral("Validate?"));
    TestPrint = new QPushButton(QStringLiteral("&Test"));
    ShowTXBtn = new QPushButton(QStringLiteral("Show SCRIB"));
    TestInfo = new QLabel;
    TestInfo->setAutoFillBackground(true);
    TestInfo->setBackgroundRole(QPalette::ToolTipBase);
    TestInfo->setForegroundRole(QPalette::ToolTipText);
    TestInfo->setFrameShape(QFrame::Box);
    TestInfo->setMargin(4);
    TestInfo->setWordWrap(true);
    TestInfo->hide();


    auto* grid = new QGridLayout(this);
    grid->addWidget(FieldLabel("Letter Head", TestlhEdit), 0, 0);
    grid->addWidget(TestlhEdit, 0, 1);
    grid->addWidget(FieldLabel("Procedure Name", TestProcEdit), 1, 0);
    grid->addWidget(TestProcEdit, 1, 1);
    grid->addWidget(FieldLabel("Printer Number", TestPrintNum), 2, 0);
    grid->addWidget(TestPrintNum, 2, 1);
    grid->addWidget(OverlayLabel, 3, 0);
    grid->addWidget(OverlayCombo, 3, 1);
    grid->addWidget(FieldLabel("Paper Tray", PaperTrayCombo), 4, 0);
    grid->addWidget(PaperTrayCombo, 4, 1);
    grid->addWidget(Validatedchecked, 5, 1);
    grid->addWidget(TestInfo, 0, 2, 4, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(TestPrint);
    buttons->addWidget(ShowTXBtn);
    buttons->addStretch();
    grid->addLayout(buttons, 4, 2, 2, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(6, 1);
    // Boxes and buttons grow up to a sensible width; an empty last column
    // takes what a wide window has beyond that.
    const int widest = 40 * fontMetrics().averageCharWidth();
    for (QWidget* widget : std::initializer_list<QWidget*> {TestlhEdit, TestProcEdit, TestPrintNum, OverlayCombo,
                                                            PaperTrayCombo, TestInfo, TestPrint, ShowTXBtn})
        widget->setMaximumWidth(widest);
    grid->addItem(new QSpacerItem(0, 0, QSizePolicy::Expanding, QSizePolicy::Minimum), 0, 3);

    setTabOrder(TestlhEdit, TestProcEdit);
    setTabOrder(TestProcEdit, TestPrintNum);
    setTabOrder(TestPrintNum, OverlayCombo);
    setTabOrder(OverlayCombo, PaperTrayCombo);
    setTabOrder(PaperTrayCombo, Validatedchecked);
    setTabOrder(Validatedchecked, TestPrint);
    setTabOrder(TestPrint, ShowTXBtn);
}

// The boxes hand what the operator chose to the page's logic.
void TTestingPage::Connect()
{
    for (QComboBox* box : {TestlhEdit, TestProcEdit, PaperTrayCombo})
        box->installEventFilter(this);

    auto edited = [this](std::string TTestPrint::*field) {
        return [this, field](const QString& text) {
            FTest.*field = FromUnicode(text);
            FTest.TestlhEditChange();
            Refresh();
        };
    };
    connect(TestlhEdit, &QComboBox::currentTextChanged, this, edited(&TTestPrint::LetterheadText));
    connect(TestProcEdit, &QComboBox::currentTextChanged, this, edited(&TTestPrint::ProcedureText));
    connect(PaperTrayCombo, &QComboBox::currentTextChanged, this, edited(&TTestPrint::TrayText));
    connect(OverlayCombo, &QComboBox::currentTextChanged, this,
            [this](const QString& text) { FTest.OverlayText = FromUnicode(text); });
    // Choosing a number is leaving the box with a new printer: its trays
    // and overlays are wanted at once.
    connect(TestPrintNum, &QComboBox::activated, this, [this] {
        FTest.PrinterNumberText = FromUnicode(TestPrintNum->currentText());
        FTest.PrinterNumberExit();
        Refresh();
    });
    connect(Validatedchecked, &QCheckBox::toggled, this, [this](bool on) { FTest.Validated = on; });
    connect(TestPrint, &QPushButton::clicked, this, [this] {
        FTest.TestPrintClick();
        Refresh();
        switch (FTest.Focus) {
        case TTestPrint::TField::Letterhead: TestlhEdit->setFocus(); break;
        case TTestPrint::TField::Procedure: TestProcEdit->setFocus(); break;
        case TTestPrint::TField::PrinterNumber: TestPrintNum->setFocus(); break;
        case TTestPrint::TField::None: break;
        }
    });
}

bool TTestingPage::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut) {
        if (watched == TestProcEdit)
            FTest.TestProcEditExit();
        else
            FTest.TestLhEditExit();
        Refresh();
    }
    return QWidget::eventFilter(watched, event);
}

void TTestingPage::Refresh()
{
    Fill(TestlhEdit, FTest.Letterheads, FTest.LetterheadText);
    Fill(TestProcEdit, FTest.Procedures, FTest.ProcedureText);
    Fill(TestPrintNum, FTest.PrinterNumbers, FTest.PrinterNumberText);
    {
        const QSignalBlocker block(OverlayCombo);
        OverlayCombo->setEditable(FTest.OverlayEditable);
    }
    Fill(OverlayCombo, FTest.Overlays, FTest.OverlayText);
    Fill(PaperTrayCombo, FTest.Trays, FTest.TrayText);
    OverlayLabel->setEnabled(!FTest.OverlayLabelDimmed);
    {
        const QSignalBlocker block(Validatedchecked);
        Validatedchecked->setChecked(FTest.Validated);
    }
    TestInfo->setText(ToUnicode(FTest.InfoText));
    TestInfo->setVisible(FTest.InfoVisible);
}
