// Sending a failed or finished job's request again: its kept bytes go back
// into the spool folder, whole and as the server's own file, and become a
// new job. printorb-tool resubmit and the web page's button do this.
#pragma once

#include "journal/journal.h"
#include "util/result.h"

#include <cstdint>
#include <string>

struct TResubmitted {
    std::string Source;   // where the kept copy was
    std::string Target;   // the request in the spool folder
    std::string Message;  // for the person who asked
};

// The job of that number, or why there is none to show.
TResult<TJobRow> ReadJob(TJournal& journal, std::int64_t id);

// journal must be open for writing; by names who asked, for the job's story.
TResult<TResubmitted> Resubmit(TJournal& journal, const std::string& home, const std::string& spoolDir,
                               std::int64_t id, const std::string& by);
