// The "Settings" page: the main settings as fields, mirrored from and to the
// server's TSettingsPage; the handlers themselves live in TPrintServer.
#pragma once

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPushButton;
class TPrintServer;

class TSettingsTab : public QWidget {
    Q_OBJECT
public:
    TSettingsTab(TPrintServer& server, QWidget* parent = nullptr);
    void Refresh();  // fields from the server's page state

    QLineEdit* ResultFilesEdit;
    QLineEdit* SpoolerEdit;
    QLineEdit* OverlayEdit;
    QLineEdit* TemplatesEdit;
    QLineEdit* DefLetterheadEdit;
    QLineEdit* PageMarginsEdit;
    QLineEdit* LPDDataDelay;
    QLineEdit* SpoolServerEdit;
    QCheckBox* FTPFailOVerCheck;
    QPushButton* UpdateButton;

private:
    TPrintServer& FServer;
};
