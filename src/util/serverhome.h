// A server home's layout: every file and folder the server and the tool find
// there, named once.
#pragma once

#include <string>
#include <utility>

class TServerHome {
public:
    static constexpr const char* kSettings = "printserver.inf";
    static constexpr const char* kTags = "tags.txt";
    static constexpr const char* kDriverData = "printerdriverdata.reg";
    static constexpr const char* kLog = "spoolerLog.txt";
    static constexpr const char* kJournal = "journal.db";
    static constexpr const char* kLprQueue = "lpdspooler/";

    TServerHome() = default;
    // The folder, with or without its trailing slash.
    explicit TServerHome(std::string folder) : FFolder(std::move(folder))
    {
        if (!FFolder.empty() && FFolder.back() != '/')
            FFolder += '/';
    }

    const std::string& Folder() const { return FFolder; }
    std::string Settings() const { return FFolder + kSettings; }
    std::string Tags() const { return FFolder + kTags; }
    std::string DriverData() const { return FFolder + kDriverData; }
    std::string Log() const { return FFolder + kLog; }
    std::string Journal() const { return FFolder + kJournal; }
    std::string LprQueue() const { return FFolder + kLprQueue; }

private:
    std::string FFolder;
};

// The settings file of a home.
inline constexpr const char* kSettingsFileName = TServerHome::kSettings;
