// File helpers on system-text paths ("/" separated, directory values ending
// in "/"). Paths are converted to the file system's encoding inside.
#pragma once

#include "util/result.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

bool DirExists(std::string_view path);
bool FileExists(std::string_view path);  // a file that is not a directory
// "printorb:printorb" (numbers for ids without a name), and "0640".
std::string UserAndGroup(unsigned uid, unsigned gid);
std::string OctalMode(unsigned mode);
// The folder and its missing parents; the reason names the folder.
TOutcome ForceDir(std::string_view path);
std::string IncludeTrailingSlash(std::string_view dir);  // empty stays empty
std::string ExtractFileName(std::string_view path);
std::string ExtractFileDir(std::string_view path);     // with its trailing "/"
std::string ExtractFileExt(std::string_view path);     // ".ext" as written, or empty

// Wildcard match ("*" and "?") without regard to letter case.
bool MatchesMask(std::string_view name, std::string_view pattern);

// Listing attribute bits, as the listing reports them.
enum : unsigned { faReadOnly = 1, faHidden = 2, faSysFile = 4, faVolumeID = 8, faDirectory = 16, faArchive = 32 };
std::string ListFiles(std::string_view mask, unsigned filter, unsigned fields);
// The file names of a listing, in its order.
std::vector<std::string> ListedNames(std::string_view listing);

// Moves a file between folders, never over an existing one. The reasons are
// the system's: "no source filename", "no source file", "destination
// exists", "system error N" (logged after "ERROR - ").
TOutcome MoveFileTo(std::string_view srcDir, std::string_view srcName, std::string_view dstDir, std::string_view dstName);
std::string ScanSubPath(std::string_view name, std::string_view mask);
std::string EscapeFileName(std::string_view text);

// Whether a file can be read before anything is done with it: "PATH: no such
// file", "PATH: is a directory", "PATH: permission denied" or the system's
// own reason otherwise.
TOutcome CheckReadableFile(std::string_view path);
// The system's reason for errno in words people use ("no such file").
std::string FileErrorText(int error);
// Whole-file read with a size bound; fails when missing, unreadable or larger.
TResult<std::string> ReadFileBytes(std::string_view path, std::uint64_t maxBytes);
// Written under a temporary name in the same directory, synced, then renamed
// into place: readers see the old file or the whole new one. A full folder
// is an outage ("no space left in /srv/results/"); the detail is the path.
// A link as the last part is followed (util/outputfile.h).
TOutcome WriteFileAtomic(std::string_view path, std::string_view bytes);
bool DeleteFileAt(std::string_view path);
// Which file this is, beyond its name: device, inode and modification time.
// A file copied or written anew gets another; empty when there is none.
std::string FileIdentity(std::string_view path);
// Copies a file, replacing the destination, through a temporary name in its
// directory, whole or not at all; the reason names the side that failed, and
// a full destination folder is an outage as for WriteFileAtomic.
TOutcome CopyFileAtomic(std::string_view from, std::string_view to);

// Lines of a text (CR LF or LF end a line; the ends are dropped).
std::vector<std::string> SplitLines(std::string_view bytes);
// Text lines of a file, up to a size bound; fails when unreadable or larger.
TResult<std::vector<std::string>> ReadTextLines(std::string_view path, std::uint64_t maxBytes);
