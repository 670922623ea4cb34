#include "testprint/testingpage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel* FieldLabel(const char* text)
{
    auto* label = new QLabel(QString::fromLatin1(text));
    QFont font = label->font();
    font.setPointSize(10);
    label->setFont(font);
    return label;
}

QComboBox* Box(bool editable)
{
    auto* box = new QComboBox;
    box->setEditable(editable);
    return box;
}

}  // namespace

TTestingPage::TTestingPage(QWidget* parent) : QWidget(parent)
{
    TestlhEdit = Box(true);
    TestProcEdit = Box(true);
    TestPrintNum = Box(false);
    OverlayLabel = FieldLabel("Overylay");
    OverlayCombo = Box(false);
    PaperTrayCombo = Box(true);
    Validatedchecked = new QCheckBox(QStringLiteral("Validate?"));
    TestPrint = new QPushButton(QStringLiteral("&Test"));
    ShowTXBtn = new QPushButton(QStringLiteral("Show SCRIB"));
    TestInfo = new QLabel;
    TestInfo->setAutoFillBackground(true);
    TestInfo->setBackgroundRole(QPalette::ToolTipBase);
    TestInfo->setForegroundRole(QPalette::ToolTipText);
    TestInfo->hide();

    auto* grid = new QGridLayout(this);
    grid->addWidget(FieldLabel("Letter Head"), 0, 0);
    grid->addWidget(TestlhEdit, 0, 1);
    grid->addWidget(FieldLabel("Procedure Name"), 1, 0);
    grid->addWidget(TestProcEdit, 1, 1);
    grid->addWidget(FieldLabel("Printer Number"), 2, 0);
    grid->addWidget(TestPrintNum, 2, 1);
    grid->addWidget(OverlayLabel, 3, 0);
    grid->addWidget(OverlayCombo, 3, 1);
    grid->addWidget(FieldLabel("Paper Tray"), 4, 0);
    grid->addWidget(PaperTrayCombo, 4, 1);
    grid->addWidget(Validatedchecked, 5, 1);
    grid->addWidget(TestInfo, 0, 2, 4, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(TestPrint);
    buttons->addWidget(ShowTXBtn);
    buttons->addStretch();
    grid->addLayout(buttons, 4, 2, 2, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(6, 1);
}
