// The Settings page's handlers: "Update Now", the LPD delay, the FTP failover
// box, the overlay directory and the spooler server address.
#include "app/printserver.h"

#include "config/settingkeys.h"
#include "util/textutil.h"

void TPrintServer::BoundDataDelay()
{
    int delay = FConfig.DataDelay;
    if (!FPage.LpdDelay.empty()) {
        if (const auto value = TryStrToInt(FPage.LpdDelay)) {
            delay = *value;
        } else {
            delay = 50;
            FPage.LpdDelay = "50";
        }
    }
    if (delay > 1000) {
        delay = 1000;
        FPage.LpdDelay = "1000";
    } else if (delay <= 0) {
        delay = 1;
        FPage.LpdDelay = "1";
    }
    ChangeStart([delay](TServerStart& start) { start.DataDelay = delay; });
}

void TPrintServer::UpdateButtonClick()
{
    const std::string& spoolServer = FPage.SpoolServer;
    if (!spoolServer.empty())
        FSpoolerLink.PointAt(spoolServer);
    BoundDataDelay();

    // The fields go into the store as typed; the running values are read back
    // from it, so a folder typed without its "/" still names the folder.
    FSettings.SetValue(keys::SpoolServer, spoolServer);
    FSettings.SetValue(keys::Overlay, FPage.OverlayDirectory);
    FSettings.SetValue(keys::Results, FPage.ResultFiles);
    FSettings.SetValue(keys::Spooler, FPage.SpoolerDirectory);
    FSettings.SetValue(keys::Templates, FPage.Templates);
    FSettings.SetValue(keys::DefLetterhead, FPage.DefaultLetterhead);
    FSettings.SetValue(keys::PageMargin, FPage.PageMargins);
    FSettings.SetValue(keys::LpdDataDelay, std::to_string(FConfig.DataDelay));
    FSettings.SetValue(keys::FtpFailover, SettingText(FPage.FtpFailover));
    ReadConfig();
    emit SettingsPageChanged();

    const std::string path = FConfig.ProgramDir + kSettingsFile;
    if (const TOutcome saved = FSettings.Save(path); !saved) {
        // The running values and the store keep the new values; the operator
        // learns that the file did not.
        const std::string text = "The settings could not be saved to " + path + ".\r\n" + saved.Reason();
        logerror(text);
        FPrompts->ShowMessage("Update Now", text, TPrompts::Icon::Error);
        return;
    }

    if (!spoolServer.empty() && !FSpoolerLink.Connected())
        FSpoolerLink.Open();
}

void TPrintServer::LPDDataDelayExit()
{
    const std::string text = Trim(FPage.LpdDelay);
    const auto value = TryStrToInt(text);
    if (!value) {
        FPage.LpdDelay = "1";
        ChangeStart([](TServerStart& start) { start.DataDelay = 1; });
        emit SettingsPageChanged();
        return;
    }
    int delay = *value;
    if (delay <= 0) {
        delay = 1;
        FPage.LpdDelay = "1";
    } else if (delay > 1000) {
        delay = 1000;
        FPage.LpdDelay = "1000";
    }
    FSettings.SetValue(keys::LpdDataDelay, Trim(FPage.LpdDelay));
    ChangeStart([delay](TServerStart& start) { start.DataDelay = delay; });
    emit SettingsPageChanged();
}

void TPrintServer::FTPFailOVerCheckClick()
{
    FSettings.SetValue(keys::FtpFailover, SettingText(FPage.FtpFailover));
}

void TPrintServer::OverlayEditChange()
{
    std::string& text = FPage.OverlayDirectory;
    if (!Trim(text).empty() && text.back() != '/')
        text += '/';
    FSettings.SetValue(keys::Overlay, text);
}

bool TPrintServer::SpoolServerEditExit()
{
    const std::string message = TSpoolerLink::SpoolServerEditExit(FPage.SpoolServer);
    if (message.empty())
        return true;
    FPrompts->ShowMessage("", message, TPrompts::Icon::Warning);
    return false;
}
