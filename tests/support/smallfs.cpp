#include "support/smallfs.h"

#include <QStandardPaths>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

// Set in the run inside the namespace, so that it never starts another.
constexpr const char* kInNamespace = "PRINTORB_SMALL_FS_NAMESPACE";

bool MountTmpfs(const std::string& path, std::size_t bytes, std::string* why)
{
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
    if (::mount("tmpfs", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0)
        return true;
    if (why)
        *why = std::strerror(errno);
    return false;
}

std::string SelfPath()
{
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

TSmallFileSystem::TSmallFileSystem(std::size_t bytes)
{
    std::string why;
    FMounted = MountTmpfs(FDir.Path(), bytes, &why);
    EXPECT_TRUE(FMounted) << "tmpfs on " << FDir.Path() << ": " << why;
}

TSmallFileSystem::~TSmallFileSystem()
{
    if (FMounted && ::umount2(FDir.Path().c_str(), 0) != 0)
        ::umount2(FDir.Path().c_str(), MNT_DETACH);
}

bool TSmallFileSystem::Fill()
{
    const int fd = ::open((FDir / "fill").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    // Whole pages first, then single bytes into the last page's rest.
    static const char page[4096] = {};
    int error = 0;
    for (std::size_t size : {sizeof page, std::size_t {1}}) {
        for (int i = 0; i < 1 << 20; ++i) {
            if (::write(fd, page, size) < 0) {
                error = errno;
                break;
            }
        }
    }
    ::close(fd);
    return error == ENOSPC;
}

void TSmallFileSystem::MakeRoom()
{
    ::unlink((FDir / "fill").c_str());
}

std::vector<std::string> TSmallFileSystem::Names() const
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(FDir.Path().c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && name != "fill")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TMountAccess SmallFileSystemAccess(std::string* why)
{
    static std::string reason;
    static const TMountAccess access = [] {
        TTempDir probe;
        std::string here;
        if (MountTmpfs(probe.Path(), 4096, &here)) {
            ::umount2(probe.Path().c_str(), MNT_DETACH);
            return TMountAccess::Here;
        }
        if (std::getenv(kInNamespace)) {
            reason = "cannot mount a tmpfs even in a namespace of its own: " + here;
            return TMountAccess::None;
        }
        const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
        if (unshare.isEmpty()) {
            reason = "not root (mount: " + here + ") and no unshare for a user namespace";
            return TMountAccess::None;
        }
        const TProgramRun run = RunProgram(unshare.toStdString(), {"-rm", "true"}, {}, 10000);
        if (run.Status != 0) {
            reason = "not root (mount: " + here + ") and no user namespace (unshare -rm: " + run.Err + ")";
            return TMountAccess::None;
        }
        return TMountAccess::InNamespace;
    }();
    if (why)
        *why = reason;
    return access;
}

void RunCurrentTestInNamespace()
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(test->test_suite_name()) + "." + test->name();
    const std::string unshare = QStandardPaths::findExecutable(QStringLiteral("unshare")).toStdString();
    const TProgramRun run = RunProgram(unshare, {"-rm", SelfPath(), "--gtest_filter=" + name},
                                       {std::string(kInNamespace) + "=1"}, 10 * 60 * 1000);
    const std::string said = run.Out + run.Err;
    if (run.Status == 0 && said.find("[  SKIPPED ] " + name) != std::string::npos)
        GTEST_SKIP() << "skipped in its namespace:\n" << said;
    EXPECT_EQ(run.Status, 0) << "the run in its own namespace failed:\n" << said;
    EXPECT_NE(said.find("[       OK ] " + name), std::string::npos) << said;
}
