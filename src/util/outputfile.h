// Files the server writes for others (saved documents, graphs, page files,
// prepared copies, settings): each is whole on disk, or its write failed and
// left nothing under its name. A write may also be kept off the server's own
// files and folders; that check is made on the folder actually opened, not
// on the path's text, and the file is made inside that same opened folder,
// so neither ".." after a link nor a link swapped in later leads it
// elsewhere.
//
// Failures: no space (or no quota) left is an outage whose reason names the
// folder ("no space left in /srv/results/"); a refused place is final; any
// other failure is a fault. Each carries the path as its detail.
#pragma once

#include "util/result.h"

#include <string>
#include <string_view>
#include <vector>

// The server's own files and the folders it works in, each folder with the
// role its refusal names ("the spool folder"). They are looked up on disk at
// every check: a file rewritten through a new inode is still known.
class TProtectedPlaces {
public:
    // A folder and everything beneath it; an empty path adds nothing.
    void AddFolder(std::string role, std::string_view path);
    // One of the server's own files: refused under its own name (existing or
    // not) and as any hard link of it.
    void AddFile(std::string path);
    bool Empty() const { return FFolders.empty() && FFiles.empty(); }

    // Done when a file may be written at path, else why not: a final failure
    // for a protected place ("it is the server's own file /home/tags.txt",
    // "it lies in the spool folder /home/spool/", "it is a symbolic link"),
    // a fault when the path's folder cannot be opened.
    TOutcome Check(std::string_view path) const;

private:
    friend class TOutputFile;
    struct TFolder {
        std::string Role;
        std::string Path;  // as given, with a trailing "/"
    };
    // The refusal for name (native) in the opened folder dirFd, or done.
    TOutcome Refusal(int dirFd, std::string_view name) const;

    std::vector<TFolder> FFolders;  // the nearest to the file wins; at one level, the first added
    std::vector<std::string> FFiles;
};

// One file being written: made under a temporary name in the folder its path
// names, never through a link, and renamed into place only once every byte
// is on disk. Dropped without Commit, the temporary file is removed.
class TOutputFile {
public:
    TOutputFile() = default;
    ~TOutputFile();
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    // Opens the path's folder, checks it against places and makes the
    // temporary file there. Without places a link as the path's last part is
    // followed (as the settings file may be one); with places it is refused.
    TOutcome Open(std::string_view path, const TProtectedPlaces& places = {});
    // The same, unguarded, for a path in the file system's own encoding (a
    // Unicode name the system's code page cannot hold).
    TOutcome OpenNative(std::string_view nativePath);
    // Every byte written, or the failure (the file is then discarded).
    TOutcome Write(std::string_view bytes);
    // The folder's owner, group and mode (less the execute bits) for the
    // file, as one user hands a file to the folder's owner: fails, with who
    // owns what, when neither the owner nor the folder's group could be
    // given read and write access.
    TOutcome LikeItsFolder();
    // Synced, closed, renamed into place and the folder synced.
    TOutcome Commit();

private:
    TOutcome OpenAt(std::string target, std::string path, const TProtectedPlaces& places);
    TFailure Failed(int error);
    void Discard();

    std::string FPath;    // as the caller named it (system text), for the detail
    std::string FFolder;  // the folder for people (system text), absolute, with a trailing "/"
    std::string FName;    // the last part, native
    std::string FTemp;    // the temporary name, native
    int FDir = -1;
    int FFd = -1;
    bool FKeepMode = false;  // an existing file's permissions carry over
    unsigned FMode = 0;
};

// Removes what a process that was killed while writing path left beside it
// (its temporary files); one still running keeps its own. How many went.
int RemoveStaleTemporaries(std::string_view path);

// The bytes as the whole file at path, through TOutputFile.
TOutcome WriteOutputFile(std::string_view path, std::string_view bytes, const TProtectedPlaces& places = {});
TOutcome WriteOutputFileNative(std::string_view nativePath, std::string_view bytes);
