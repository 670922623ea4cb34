// The server's configuration as one typed view of printserver.inf: folders
// with their trailing "/", the yes/no failover as a bool, the data delay as
// a number. Read by the server's start-up, the tool and the tests alike.
#pragma once

#include "config/settingsstore.h"

#include <optional>
#include <string>
#include <vector>

struct TServerConfig {
    std::string ResultsDir;    // RESULTS
    std::string SpoolDir;      // SPOOLER
    std::string TemplatesDir;  // TEMPLATES
    std::string OverlayDir;    // OVERLAY
    std::string DefLetterhead;  // DEFLETTERHEAD
    std::string PageMargin;    // pagemargin as written; empty when not set
    std::optional<int> LpdDataDelay;  // LPDDATADELAY when set (1 when not a number)
    bool FtpFailover = false;  // FTPFAILOVER
    std::string AutoScanSubDir;  // AUTOSCANSUBDIR
    std::vector<std::string> ImageDirs;  // IMAGES… lines, in file order

    static TServerConfig Read(const TSettings& settings);
    // The critical settings that are not set, by name; empty when all are.
    std::vector<std::string> MissingCritical() const;
    // The margins to use: the setting, else 5,5,8,5 mm.
    std::string PageMarginOrDefault() const;
};
