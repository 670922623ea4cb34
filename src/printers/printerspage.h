// The "Printers" page: the printer list, the editing fields, the default
// label and the overlay grid, painted from a TPrinterTable.
#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;
class TPrinterTable;

class TPrintersPage : public QWidget {
    Q_OBJECT
public:
    explicit TPrintersPage(QWidget* parent = nullptr);
    void Refresh(const TPrinterTable& table);

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
};
