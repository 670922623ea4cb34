#include "util/outputfile.h"

#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/stoppoint.h"
#include "util/textutil.h"

#include <algorithm>
#include <charconv>
#include <csignal>
#include <dirent.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Deeper than any real folder tree; a walk up that does not reach the root
// by then is not trusted.
constexpr int kMaxDepth = 4096;
// Links followed for an unguarded write, as the kernel's own bound.
constexpr int kMaxLinks = 40;

class TFd {
public:
    explicit TFd(int fd = -1) : FFd(fd) {}
    ~TFd() { Reset(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }
    void Reset(int fd = -1)
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = fd;
    }

private:
    int FFd;
};

bool Same(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The folder part of a native path, absolute, with its trailing "/".
std::string FolderForPeople(const std::string& dir)
{
    if (!dir.empty() && dir[0] == '/')
        return dir;
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr)
        return dir.empty() ? std::string("./") : dir;
    return IncludeTrailingSlash(cwd) + dir;
}

int OpenFolder(const std::string& nativeDir)
{
    return ::open(nativeDir.empty() ? "." : nativeDir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

bool IsFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != "..";
}

// A name no other writer picks, in this process or another.
std::string UniqueSuffix()
{
    static unsigned counter = 0;
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    char text[64];
    std::snprintf(text, sizeof text, "%x-%x-%lx", static_cast<unsigned>(::getpid()), ++counter,
                  static_cast<unsigned long>(now.tv_nsec));
    return text;
}

}  // namespace

int RemoveStaleTemporaries(std::string_view path)
{
    const std::string native = NativePath(path);
    const std::size_t slash = native.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : native.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? native : native.substr(slash + 1);
    const std::string prefix = "." + name.substr(0, std::min<std::size_t>(name.size(), 200)) + ".";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view entryName = entry->d_name;
        if (!entryName.starts_with(prefix) || !entryName.ends_with(".tmp"))
            continue;
        // The writer's process number leads the suffix, in hex.
        const std::string_view suffix = entryName.substr(prefix.size(), entryName.size() - prefix.size() - 4);
        unsigned pid = 0;
        const auto [end, error] = std::from_chars(suffix.data(), suffix.data() + suffix.size(), pid, 16);
        if (error != std::errc() || end == suffix.data() || end == suffix.data() + suffix.size() || *end != '-')
            continue;
        if (static_cast<pid_t>(pid) == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        if (::unlinkat(::dirfd(dir), std::string(entryName).c_str(), 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

void TProtectedPlaces::AddFolder(std::string role, std::string_view path)
{
    if (!Trim(path).empty())
        FFolders.push_back({std::move(role), IncludeTrailingSlash(path)});
}

void TProtectedPlaces::AddFile(std::string path)
{
    if (!Trim(path).empty())
        FFiles.push_back(std::move(path));
}

TOutcome TProtectedPlaces::Check(std::string_view path) const
{
    if (Trim(path).empty())
        return FailFinal("it names no file", std::string(path));
    const TFd dir(OpenFolder(NativePath(ExtractFileDir(path))));
    if (dir.Get() < 0)
        return Fail(std::strerror(errno), std::string(path));
    if (const TOutcome refused = Refusal(dir.Get(), NativePath(ExtractFileName(path))); !refused)
        return TFailure {refused.Reason(), std::string(path), refused.Kind()};
    return TOutcome::Done();
}

TOutcome TProtectedPlaces::Refusal(int dirFd, std::string_view name) const
{
    struct stat here {};
    if (::fstat(dirFd, &here) != 0)
        return Fail(std::strerror(errno));
    const std::string file(name);
    // The server's own files: by name in their folder (a journal's side file
    // may not exist yet), and by inode (a hard link, or a link to one).
    struct stat target {};
    struct stat reached {};
    const bool exists = IsFileName(file) && ::fstatat(dirFd, file.c_str(), &target, AT_SYMLINK_NOFOLLOW) == 0;
    const bool leads = exists && ::fstatat(dirFd, file.c_str(), &reached, 0) == 0;
    for (const std::string& own : FFiles) {
        struct stat st {};
        const std::string ownFolder = ExtractFileDir(own);
        if (IsFileName(file) && NativePath(ExtractFileName(own)) == file &&
            ::stat(NativePath(ownFolder.empty() ? std::string(".") : ownFolder).c_str(), &st) == 0 && Same(st, here))
            return FailFinal("it is the server's own file " + own);
        if (leads && ::stat(NativePath(own).c_str(), &st) == 0 && Same(st, reached))
            return FailFinal("it is the server's own file " + own);
    }
    // The folder and each folder above it, as the kernel walks up from the
    // folder opened: links and ".." in the path have already been taken.
    std::vector<std::pair<struct stat, const TFolder*>> folders;
    for (const TFolder& folder : FFolders) {
        struct stat st {};
        if (::stat(NativePath(folder.Path).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            folders.emplace_back(st, &folder);
    }
    if (!folders.empty()) {
        TFd level(::fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
        struct stat at = here;
        for (int depth = 0;; ++depth) {
            for (const auto& [st, folder] : folders)
                if (Same(st, at))
                    return FailFinal("it lies in " + folder->Role + " " + folder->Path);
            if (level.Get() < 0 || depth == kMaxDepth)
                return Fail("cannot tell where its folder lies");
            const int up = ::openat(level.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
            const int error = errno;
            level.Reset(up);
            struct stat above {};
            if (up < 0 || ::fstat(up, &above) != 0)
                return Fail(std::string("cannot tell where its folder lies: ") + std::strerror(up < 0 ? error : errno));
            if (Same(above, at))
                break;  // the root
            at = above;
        }
    }
    // A link as the last part could be changed after this check to lead anywhere.
    if (exists && S_ISLNK(target.st_mode))
        return FailFinal("it is a symbolic link");
    return TOutcome::Done();
}

TOutputFile::~TOutputFile()
{
    Discard();
    if (FDir >= 0)
        ::close(FDir);
}

// The system's own words for other errors, as the saved documents' log
// lines have always shown them ("No such file or directory").
TFailure TOutputFile::Failed(int error)
{
    if (error == ENOSPC || error == EDQUOT)
        return FailOutage("no space left in " + FFolder, FPath);
    return Fail(std::strerror(error), FPath);
}

void TOutputFile::Discard()
{
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
    if (!FTemp.empty() && FDir >= 0)
        ::unlinkat(FDir, FTemp.c_str(), 0);
    FTemp.clear();
}

TOutcome TOutputFile::Open(std::string_view path, const TProtectedPlaces& places)
{
    return OpenAt(NativePath(path), std::string(path), places);
}

TOutcome TOutputFile::OpenNative(std::string_view nativePath)
{
    return OpenAt(std::string(nativePath), SystemName(nativePath), {});
}

TOutcome TOutputFile::OpenAt(std::string target, std::string path, const TProtectedPlaces& places)
{
    Discard();
    if (FDir >= 0)
        ::close(FDir);
    FDir = -1;
    FKeepMode = false;
    FPath = std::move(path);
    if (Trim(FPath).empty())
        return FailFinal("it names no file", FPath);
    for (int links = 0;; ++links) {
        const std::string dir = ExtractFileDir(target);
        FFolder = SystemName(FolderForPeople(dir));
        FDir = OpenFolder(dir);
        if (FDir < 0)
            return Failed(errno);
        FName = ExtractFileName(target);
        if (!places.Empty())
            if (const TOutcome refused = places.Refusal(FDir, FName); !refused)
                return TFailure {refused.Reason(), FPath, refused.Kind()};
        if (!IsFileName(FName))
            return Failed(EISDIR);
        struct stat st {};
        if (::fstatat(FDir, FName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                return Failed(errno);
            break;
        }
        if (S_ISLNK(st.st_mode)) {
            // Unguarded writes (the settings) go where the link leads, as
            // they always have.
            if (links == kMaxLinks)
                return Failed(ELOOP);
            char to[PATH_MAX];
            const ssize_t length = ::readlinkat(FDir, FName.c_str(), to, sizeof to - 1);
            if (length < 0)
                return Failed(errno);
            const std::string next(to, static_cast<std::size_t>(length));
            target = next.starts_with('/') ? next : dir + next;
            ::close(FDir);
            FDir = -1;
            continue;
        }
        if (S_ISDIR(st.st_mode))
            return Failed(EISDIR);
        FKeepMode = S_ISREG(st.st_mode);
        FMode = st.st_mode & 07777;
        break;
    }
    const std::string stem = FName.substr(0, std::min<std::size_t>(FName.size(), 200));
    for (int attempt = 0; attempt < 100 && FFd < 0; ++attempt) {
        FTemp = "." + stem + "." + UniqueSuffix() + ".tmp";
        FFd = ::openat(FDir, FTemp.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_WRONLY | O_CLOEXEC, 0666);
        if (FFd < 0) {
            const int error = errno;
            FTemp.clear();
            if (error != EEXIST)
                return Failed(error);
        }
    }
    if (FFd < 0)
        return Failed(EEXIST);
    if (FKeepMode && ::fchmod(FFd, static_cast<mode_t>(FMode)) != 0) {
        const TFailure failure = Failed(errno);
        Discard();
        return failure;
    }
    return TOutcome::Done();
}

TOutcome TOutputFile::Write(std::string_view bytes)
{
    if (FFd < 0)
        return Fail("the file is not open", FPath);
    const char* at = bytes.data();
    std::size_t left = bytes.size();
    // The kill test stops here once half the bytes are in the file.
    const std::size_t half = StopPointArmed("output-half") ? left / 2 : 0;
    while (left > 0) {
        if (half > 0 && static_cast<std::size_t>(at - bytes.data()) >= half)
            StopPoint("output-half");
        const std::size_t chunk = half > 0 && static_cast<std::size_t>(at - bytes.data()) < half
                                      ? half - static_cast<std::size_t>(at - bytes.data())
                                      : std::min<std::size_t>(left, 1u << 30);
        const ssize_t done = ::write(FFd, at, chunk);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            const TFailure failure = Failed(done < 0 ? errno : EIO);
            Discard();
            return failure;
        }
        at += done;
        left -= static_cast<std::size_t>(done);
    }
    return TOutcome::Done();
}

TOutcome TOutputFile::LikeItsFolder()
{
    if (FFd < 0)
        return Fail("the file is not open", FPath);
    struct stat folder {};
    if (::fstat(FDir, &folder) != 0)
        return Failed(errno);
    const mode_t mode = folder.st_mode & 0666;
    if (::fchmod(FFd, mode) != 0)
        return Failed(errno);
    // Only root may give a file away; a member of the folder's group can still hand it over by group.
    if (::fchown(FFd, folder.st_uid, folder.st_gid) != 0)
        [[maybe_unused]] const int byGroup = ::fchown(FFd, static_cast<uid_t>(-1), folder.st_gid);
    struct stat file {};
    if (::fstat(FFd, &file) != 0)
        return Failed(errno);
    const bool owner = file.st_uid == folder.st_uid && (file.st_mode & 0600) == 0600;
    const bool group = file.st_gid == folder.st_gid && (file.st_mode & 0060) == 0060;
    if (owner || group)
        return TOutcome::Done();
    return FailFinal("it would belong to " + UserAndGroup(file.st_uid, file.st_gid) + ", mode " +
                         OctalMode(file.st_mode) + ", which the folder's owner " +
                         UserAndGroup(folder.st_uid, folder.st_gid) + " cannot write (run as root or as that user)",
                     FPath);
}

TOutcome TOutputFile::Commit()
{
    if (FFd < 0)
        return Fail("the file is not open", FPath);
    if (::fsync(FFd) != 0) {
        const TFailure failure = Failed(errno);
        Discard();
        return failure;
    }
    const int fd = FFd;
    FFd = -1;
    // A network file system may report a failed write only here; EINTR
    // still closes the file, and its bytes are synced already.
    if (::close(fd) != 0 && errno != EINTR) {
        const TFailure failure = Failed(errno);
        Discard();
        return failure;
    }
    StopPoint("output-synced");  // every byte on disk, not yet under its name
    if (::renameat(FDir, FTemp.c_str(), FDir, FName.c_str()) != 0) {
        const TFailure failure = Failed(errno);
        Discard();
        return failure;
    }
    FTemp.clear();
    // The new name on disk too. A folder that may be written but not read
    // cannot be synced; its entry reaches the disk with the next sync.
    const TFd folder(::openat(FDir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() < 0 && errno != EACCES)
        return Failed(errno);
    if (folder.Get() >= 0 && ::fsync(folder.Get()) != 0 && errno != EINVAL)
        return Failed(errno);
    ::close(FDir);
    FDir = -1;
    return TOutcome::Done();
}

namespace {

TOutcome WriteWhole(TOutputFile& file, const TOutcome& opened, std::string_view bytes)
{
    if (!opened)
        return opened;
    if (TOutcome written = file.Write(bytes); !written)
        return written;
    return file.Commit();
}

}  // namespace

TOutcome WriteOutputFile(std::string_view path, std::string_view bytes, const TProtectedPlaces& places)
{
    TOutputFile file;
    return WriteWhole(file, file.Open(path, places), bytes);
}

TOutcome WriteOutputFileNative(std::string_view nativePath, std::string_view bytes)
{
    TOutputFile file;
    return WriteWhole(file, file.OpenNative(nativePath), bytes);
}
