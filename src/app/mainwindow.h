// TPrintServerForm: the one window. It owns the server and the two timers,
// shows the counters, lights, log, printer table, settings and test page,
// and runs the start-up when it is made.
#pragma once

#include "app/printserver.h"
#include "printers/overlaylist.h"
#include "printers/printeractions.h"
#include "testprint/testprint.h"
#include "util/prompts.h"

#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <memory>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTabWidget;
class TLightWidget;
class TResultBox;
class TPrintersPage;
class TSettingsTab;
class TTestingPage;

class TPrintServerForm : public QWidget, private TJobWindow {
    Q_OBJECT
    // First, so that it exists before the members that refer into it.
    std::unique_ptr<TPrompts> FOwnPrompts;
    std::unique_ptr<TPrintServer> FServer;
    // The pages' operations, on the server's state.
    TOverlayList FOverlayList;
    TPrinterActions FPrinterActions;
    TTestPrint FTestPrint;

public:
    // programDir ends in "/". Without prompts, the window's own boxes are used
    // with a display and the unattended ones without.
    explicit TPrintServerForm(const std::string& programDir, TPrompts* prompts = nullptr,
                              const TProgramEnvironment& env = {}, QWidget* parent = nullptr);
    ~TPrintServerForm() override;

    // false when the start-up ended the program (its message is in the log).
    bool StartedUp() const { return FStartedUp; }
    static bool HasDisplay();

    TPrintServer& Server() { return *FServer; }
    TPrinterActions& PrinterActions() { return FPrinterActions; }
    TOverlayList& OverlayList() { return FOverlayList; }
    TTestPrint& TestPrint() { return FTestPrint; }
    // A change of the shown option page, as the tab bar makes it.
    void OptionPagesChange(int index);

    // Window events; tests call them directly.
    void StartstopbuttonClick();
    void ChangePrinterButtonClick() {}
    void ShowTXBtnClick();
    void HideScribButtonClick();
    void FormResize();
    void Button1Click();
    void Button2Click();
    void ResultBoxError(TEngineErrorEvent& event);

    // Top of the picture for a panel of that height (each half rounded toward zero).
    static int PrintingImageTop(int panelHeight, int pictureHeight) { return panelHeight / 2 - pictureHeight / 2; }

    QWidget* ImagePanel;
    QLabel* PrintingImage;
    QWidget* QueuePanel;
    QPushButton* Startstopbutton;
    QLabel* PrintQueue;
    QLabel* LPRQueue;
    TLightWidget* SpoolLight;
    TLightWidget* ConvertLight;
    TLightWidget* PrintingLight;
    TLightWidget* LPRLight;
    QPushButton* HideScribButton;
    QPushButton* Button1;
    QPushButton* Button2;
    QSplitter* Splitter1;
    QWidget* ResultPanel;
    QLabel* MultiImage;
    TResultBox* ResultBox;
    QTabWidget* OptionPages;
    TPrintersPage* PrinterPage;
    QWidget* LogPage;
    QPlainTextEdit* logmemo;
    TSettingsTab* FilePage;
    TTestingPage* testingtab;

private:
    // What jobs ask of the window.
    void Repaint() override { repaint(); }
    bool DocumentViewShown() const override;
    void ShowPrintDialog(std::string_view document, std::string_view printer) override;
    void Beep() override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildLeftPanel();
    void FitQueuePanel();
    void BuildResultPanel();
    void ShowLight(TLight light);
    void ShowCounters();
    void ShowLog();
    TLightWidget* LightOf(TLight light) const;

    bool FStartedUp = false;
    bool FViewRefreshQueued = false;
    QPixmap FPicture;  // the left panel's picture, scaled from this
};
