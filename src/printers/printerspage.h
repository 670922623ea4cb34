// The "Printers" page: the printer list, the editing fields, the default
// label and the overlay grid. Every event hands the widget's value to the
// page's operations (TPrinterActions, TOverlayList) and repaints from them.
#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QTableWidget;
class TOverlayList;
class TPrinterActions;
class TPrinterTable;

class TPrintersPage : public QWidget {
    Q_OBJECT
public:
    TPrintersPage(TPrinterTable& table, TPrinterActions& actions, TOverlayList& overlays, QWidget* parent = nullptr);
    void Refresh();
    // The pop-up menu as it opens on the printer list.
    QMenu* PrinterPopUp();

    QListWidget* Printerlist;
    QComboBox* printernumberedit;
    QComboBox* PrinterNameCombo;
    QLineEdit* IPEdit;
    QLabel* DefaultLabel;
    QPushButton* NewButton;
    QPushButton* printerupdate;
    QPushButton* ChangePrinterButton;
    QTableWidget* MacroValueList;
    QPushButton* CopyOverlayButton;
    QPushButton* PasteToListButton;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateWidgets();
    void LayOut();
    void Connect();

    TPrinterTable& FTable;
    TPrinterActions& FActions;
    TOverlayList& FOverlays;
    QMenu* FPopUp;
};
