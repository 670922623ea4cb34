#include "util/homelock.h"

#include "util/codepage.h"
#include "util/fileutil.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace {

std::string LockPath(const std::string& home)
{
    return NativePath(IncludeTrailingSlash(home) + THomeLock::kFileName);
}

struct flock WholeFile(short type)
{
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;
}

long PidIn(int fd)
{
    char text[32] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    long pid = 0;
    if (got > 0)
        std::from_chars(text, text + got, pid);
    return pid > 0 ? pid : -1;
}

}  // namespace

THomeLock::~THomeLock()
{
    Release();
}

void THomeLock::Release()
{
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
}

TOutcome THomeLock::Acquire(const std::string& home)
{
    Release();
    const std::string path = LockPath(home);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0640);
    if (fd < 0)
        return Fail("cannot open the lock " + SystemName(path) + ": " + FileErrorText(errno));
    struct flock lock = WholeFile(F_WRLCK);
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        const int error = errno;
        const long pid = PidIn(fd);
        ::close(fd);
        if (error == EAGAIN || error == EACCES)
            return Fail("another server " + (pid > 0 ? "(process " + std::to_string(pid) + ") " : std::string()) +
                        "runs on the home " + IncludeTrailingSlash(home));
        return Fail("cannot lock " + SystemName(path) + ": " + std::strerror(error));
    }
    // Who holds it, for the next one that tries; without the number only
    // that message is poorer.
    const std::string pid = std::to_string(::getpid()) + "\n";
    const bool noted =
        ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
    static_cast<void>(noted);
    FFd = fd;
    return TOutcome::Done();
}

long THomeLock::Holder(const std::string& home)
{
    const int fd = ::open(LockPath(home).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return 0;
    struct flock lock = WholeFile(F_WRLCK);
    long pid = 0;
    if (::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK)
        pid = PidIn(fd);
    ::close(fd);
    return pid;
}
