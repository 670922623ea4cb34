// Outputs a request names (a PDF, a saved document) must never land on the
// server's own files or in the folders it works in: one request could
// otherwise replace the settings, the tag file, the letterhead or another
// request waiting its turn.
#pragma once

#include "config/serverconfig.h"

#include <string>
#include <string_view>
#include <vector>

class TOutputGuard {
public:
    explicit TOutputGuard(const TServerConfig& config);

    // Why the path may not be written ("it is the server's own file
    // /home/tags.txt", "it lies in the spool folder /home/spool/"); empty
    // when it may. Relative paths are taken from the working folder (the
    // server's home); links and ".." are followed.
    std::string Refusal(std::string_view path) const;

private:
    struct TFolder {
        std::string Role;
        std::string Path;  // resolved, with a trailing "/"
    };
    std::vector<std::string> FOwnFiles;  // resolved
    std::vector<TFolder> FFolders;
};
