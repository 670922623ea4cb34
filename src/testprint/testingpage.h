// The "Testing" page: letterhead, procedure, printer number, overlay and tray
// boxes, the "Validate?" box, and the Test and Show SCRIB buttons. The boxes
// hand what the operator chose to TTestPrint and show its state.
#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class TTestPrint;

class TTestingPage : public QWidget {
    Q_OBJECT
public:
    explicit TTestingPage(TTestPrint& test, QWidget* parent = nullptr);
    void Refresh();

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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The boxes and buttons in their grid.
    void BuildForm();
    void Connect();

    TTestPrint& FTest;
};
