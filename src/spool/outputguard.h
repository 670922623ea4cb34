// Outputs a request names (a PDF, a saved document, a graph, the document it
// carries) must never land on the server's own files or in the folders it
// works in: one request could otherwise replace the settings, the tag file,
// the letterhead or another request waiting its turn.
#pragma once

#include "config/serverconfig.h"
#include "util/outputfile.h"

#include <string>
#include <string_view>

class TOutputGuard {
public:
    explicit TOutputGuard(const TServerConfig& config);

    // The server's own files and folders of the configuration it was built
    // from, for WriteOutputFile: the check and the write are then made on
    // the one folder opened.
    const TProtectedPlaces& Places() const { return FPlaces; }

    // Why the path may not be written ("it is the server's own file
    // /home/tags.txt", "it lies in the spool folder /home/spool/"); empty
    // when it may. Relative paths are taken from the working folder (the
    // server's home); links and ".." in the folder part are taken as the
    // kernel takes them. A check alone: a write should go through Places().
    std::string Refusal(std::string_view path) const;

private:
    TProtectedPlaces FPlaces;
};
