// What the programs take from their environment. Each program reads it once,
// where it starts, and hands each part what that part needs; nothing below
// the programs' entries reads an environment variable.
#pragma once

#include <string>

struct TProgramEnvironment {
    std::string Home;           // PRINTORB_HOME: the server's home
    std::string PackageRoot;    // PRINTORB_PKG_ROOT: stands for / (tests only)
    std::string StopAt;         // PRINTORB_STOP_AT: the kill tests' stop point
    std::string Temp;           // TEMP by any letter case, else TMPDIR
    std::string TmpDir;         // TMPDIR
    std::string RuntimeDir;     // XDG_RUNTIME_DIR
    std::string JournalStream;  // JOURNAL_STREAM: the stream systemd gave, as "device:inode"
    bool Display = false;       // DISPLAY or WAYLAND_DISPLAY
    bool QtPlatform = false;    // QT_QPA_PLATFORM

    // The process's environment as it is now.
    static TProgramEnvironment Read();
};
