// A small file system for tests of a full disk: a tmpfs of a few pages,
// mounted for the test and unmounted after it. Mounting needs root: as root
// the test mounts it itself; otherwise the test runs again, alone, as the
// root of its own user and mount namespace (`unshare -rm`), and its result
// becomes this run's. Where neither works the test is skipped, saying why.
//
//     TEST(Suite, Name)
//     {
//         PRINTORB_IN_SMALL_FILE_SYSTEMS();
//         TSmallFileSystem disk;
//         ASSERT_TRUE(disk.Fill());
//         ...
//     }
#pragma once

#include "support/testsupport.h"

#include <cstddef>
#include <string>

class TSmallFileSystem {
public:
    explicit TSmallFileSystem(std::size_t bytes = 64 * 1024);
    ~TSmallFileSystem();
    TSmallFileSystem(const TSmallFileSystem&) = delete;
    TSmallFileSystem& operator=(const TSmallFileSystem&) = delete;

    bool Mounted() const { return FMounted; }
    // The mount point, with a trailing "/".
    const std::string& Path() const { return FDir.Path(); }
    std::string operator/(const std::string& name) const { return FDir / name; }
    // Every free block taken by the file "fill"; false when it could not be.
    bool Fill();
    // The fill removed: room for the writes again.
    void MakeRoom();
    // The names in the mount point besides the fill, sorted.
    std::vector<std::string> Names() const;

private:
    TTempDir FDir;
    bool FMounted = false;
};

// Where a small file system can be mounted for this test.
enum class TMountAccess {
    Here,         // this process may mount
    InNamespace,  // only as the root of a user and mount namespace of its own
    None,
};
TMountAccess SmallFileSystemAccess(std::string* why);
// Runs the current test again, alone, in `unshare -rm`; its failures (or its
// skip) become this test's.
void RunCurrentTestInNamespace();

#define PRINTORB_IN_SMALL_FILE_SYSTEMS()                                            \
    do {                                                                            \
        std::string printorbWhyNot;                                                 \
        switch (SmallFileSystemAccess(&printorbWhyNot)) {                           \
        case TMountAccess::Here: break;                                             \
        case TMountAccess::InNamespace: RunCurrentTestInNamespace(); return;        \
        case TMountAccess::None: GTEST_SKIP() << printorbWhyNot;                    \
        }                                                                           \
    } while (false)
