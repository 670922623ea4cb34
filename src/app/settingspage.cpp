// The Settings page's handlers: "Update Now", the LPD delay, the FTP failover
// box, the overlay directory and the spooler server address.
#include "app/printserver.h"
#include "config/settingkeys.h"

#include "util/textutil.h"

void TPrintServer::UpdateButtonClick()
{
    // The fields replace the running values exactly as typed.
    SpoolDir = Page.SpoolerDirectory;
    OverlayDir = Page.OverlayDirectory;
    ResultsDir = Page.ResultFiles;
    TemplatesDir = Page.Templates;
    DefLetterhead = Page.DefaultLetterhead;
    PageMargin = Page.PageMargins;
    SpoolServerAddress = Page.SpoolServer;

    if (!SpoolServerAddress.empty())
        SpoolerLink.PointAt(SpoolServerAddress);

    if (!Page.LpdDelay.empty()) {
        if (const auto value = TryStrToInt(Page.LpdDelay)) {
            DataDelay = *value;
        } else {
            DataDelay = 50;
            Page.LpdDelay = "50";
        }
    }
    if (DataDelay > 1000) {
        DataDelay = 1000;
        Page.LpdDelay = "1000";
    } else if (DataDelay <= 0) {
        DataDelay = 1;
        Page.LpdDelay = "1";
    }

    Settings.SetValue(keys::SpoolServer, SpoolServerAddress);
    Settings.SetValue(keys::Overlay, OverlayDir);
    Settings.SetValue(keys::Results, ResultsDir);
    Settings.SetValue(keys::Spooler, SpoolDir);
    Settings.SetValue(keys::Templates, TemplatesDir);
    Settings.SetValue(keys::DefLetterhead, DefLetterhead);
    Settings.SetValue(keys::PageMargin, PageMargin);
    Settings.SetValue(keys::LpdDataDelay, std::to_string(DataDelay));
    Settings.SetValue(keys::FtpFailover, SettingText(Page.FtpFailover));
    emit SettingsPageChanged();

    const std::string path = ProgramDir + kSettingsFile;
    const std::string error = Settings.SaveToFile(path);
    if (!error.empty()) {
        // The running values and the store keep the new values; the operator
        // learns that the file did not.
        const std::string text = "The settings could not be saved to " + path + ".\r\n" + error;
        loginfo(text);
        FPrompts->ShowMessage("Update Now", text, TPrompts::Icon::Error);
        return;
    }

    if (!SpoolServerAddress.empty() && !SpoolerLink.Connected())
        SpoolerLink.Open();
}

void TPrintServer::LPDDataDelayExit()
{
    const std::string text = Trim(Page.LpdDelay);
    const auto value = TryStrToInt(text);
    if (!value) {
        Page.LpdDelay = "1";
        DataDelay = 1;
        emit SettingsPageChanged();
        return;
    }
    int delay = *value;
    if (delay <= 0) {
        delay = 1;
        Page.LpdDelay = "1";
    } else if (delay > 1000) {
        delay = 1000;
        Page.LpdDelay = "1000";
    }
    Settings.SetValue(keys::LpdDataDelay, Trim(Page.LpdDelay));
    DataDelay = delay;
    emit SettingsPageChanged();
}

void TPrintServer::FTPFailOVerCheckClick()
{
    Settings.SetValue(keys::FtpFailover, SettingText(Page.FtpFailover));
}

void TPrintServer::OverlayEditChange()
{
    std::string& text = Page.OverlayDirectory;
    if (!Trim(text).empty() && text.back() != '/')
        text += '/';
    Settings.SetValue(keys::Overlay, text);
}

bool TPrintServer::SpoolServerEditExit()
{
    const std::string message = TSpoolerLink::SpoolServerEditExit(Page.SpoolServer);
    if (message.empty())
        return true;
    FPrompts->ShowMessage("", message, TPrompts::Icon::Warning);
    return false;
}
