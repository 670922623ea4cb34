// The "Testing" page: letterhead, procedure, printer number, overlay and tray
// boxes, the "Validate?" box, and the Test and Show SCRIB buttons.
#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

class TTestingPage : public QWidget {
    Q_OBJECT
public:
    explicit TTestingPage(QWidget* parent = nullptr);

    QComboBox* TestlhEdit;
    QComboBox* TestProcEdit;
    QComboBox* TestPrintNum;
    QLabel* OverlayLabel;
    QComboBox* OverlayCombo;
    QComboBox* PaperTrayCombo;
    QCheckBox* Validatedchecked;
    QPushButton* TestPrint;
    QPushButton* ShowTXBtn;
    QLabel* TestInfo;
};
