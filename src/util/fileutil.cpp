#include "util/fileutil.h"

#include "util/codepage.h"
#include "util/outputfile.h"
#include "util/textutil.h"

#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

bool DirExists(std::string_view path)
{
    if (path.empty())
        return false;
    struct stat st {};
    return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(std::string_view path)
{
    if (path.empty())
        return false;
    struct stat st {};
    return ::stat(NativePath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

TOutcome ForceDir(std::string_view path)
{
    if (path.empty())
        return Fail("no folder name");
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(NativePath(path)), ec);
    if (DirExists(path))
        return TOutcome::Done();
    return Fail(std::string(path) + ": " + (ec ? ec.message() : std::string("not a folder")));
}

std::string IncludeTrailingSlash(std::string_view dir)
{
    std::string out(dir);
    if (!out.empty() && out.back() != '/')
        out += '/';
    return out;
}

std::string ExtractFileName(std::string_view path)
{
    const auto pos = path.find_last_of('/');
    return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

std::string ExtractFileDir(std::string_view path)
{
    const auto pos = path.find_last_of('/');
    return pos == std::string_view::npos ? std::string() : std::string(path.substr(0, pos + 1));
}

std::string ExtractFileExt(std::string_view path)
{
    const std::string name = ExtractFileName(path);
    const auto pos = name.find_last_of('.');
    return pos == std::string::npos ? std::string() : name.substr(pos);
}

bool MatchesMask(std::string_view name, std::string_view pattern)
{
    // As on the original file system, "x*.*" also takes names without a dot.
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
        MatchesMask(name, pattern.substr(0, pattern.size() - 2)))
        return true;
    // The glob itself is iterative with one backtrack point: linear in practice.
    std::size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

namespace {

std::string FormatTime(std::time_t t)
{
    std::tm tm {};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%d/%m/%Y %H:%M", &tm);
    return buf;
}

unsigned AttributesOf(const std::string& name, const struct stat& st)
{
    unsigned attr = 0;
    if (S_ISDIR(st.st_mode))
        attr |= faDirectory;
    else
        attr |= faArchive;
    if ((st.st_mode & S_IWUSR) == 0)
        attr |= faReadOnly;
    if (!name.empty() && name[0] == '.')
        attr |= faHidden;
    return attr;
}

}  // namespace

std::string ListFiles(std::string_view mask, unsigned filter, unsigned fields)
{
    const std::string dir = ExtractFileDir(mask);
    const std::string pattern = ExtractFileName(mask);
    DIR* d = ::opendir(NativePath(dir.empty() ? std::string("./") : dir).c_str());
    if (!d)
        return "0\r";
    std::vector<std::pair<std::string, std::string>> entries;  // name, entry text
    while (dirent* e = ::readdir(d)) {
        const std::string name = SystemName(e->d_name);
        if (!MatchesMask(name, pattern))
            continue;
        struct stat st {};
        if (::stat(NativePath(dir + name).c_str(), &st) != 0)
            continue;
        const unsigned attr = AttributesOf(name, st);
        const bool accepted = filter == 0 ? (attr & faDirectory) == 0
                                          : (filter == 63 || (attr & filter) == filter);
        if (!accepted)
            continue;
        std::string entry;
        if (fields & 1)
            entry += name + '\n';
        if (fields & 2)
            entry += name + '\n';
        if (fields & 4)
            entry += FormatTime(st.st_mtime) + '\n';
        if (fields & 8)
            entry += FormatTime(st.st_ctime) + '\n';
        if (fields & 16)
            entry += FormatTime(st.st_atime) + '\n';
        if (fields & 32)
            entry += std::to_string(static_cast<long long>(st.st_size)) + '\n';
        if (fields & 64)
            entry += std::to_string(attr) + '\n';
        entries.emplace_back(name, entry + '\r');
    }
    ::closedir(d);
    // In name order, as the original file system lists a folder.
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return CompareText(a.first, b.first) < 0; });
    std::string listing = std::to_string(entries.size()) + '\r';
    for (const auto& entry : entries)
        listing += entry.second;
    return listing;
}

std::vector<std::string> ListedNames(std::string_view listing)
{
    std::vector<std::string> names;
    std::size_t at = listing.find('\r');
    while (at != std::string::npos && at + 1 < listing.size()) {
        const std::size_t end = listing.find('\r', at + 1);
        const std::string_view entry = listing.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
        if (!entry.empty())
            names.push_back(TextBefore(entry, "\n"));
        at = end;
    }
    return names;
}

TOutcome MoveFileTo(std::string_view srcDir, std::string_view srcName, std::string_view dstDir, std::string_view dstName)
{
    if (RemoveChar(srcName, ' ').empty())
        return Fail("no source filename");
    const std::string_view target = RemoveChar(dstName, ' ').empty() ? srcName : dstName;
    const std::string from = IncludeTrailingSlash(srcDir) + std::string(srcName);
    const std::string to = IncludeTrailingSlash(dstDir) + std::string(target);
    if (!FileExists(from))
        return Fail("no source file", from);
    struct stat st {};
    if (::lstat(NativePath(to).c_str(), &st) == 0)
        return Fail("destination exists", to);
    if (::rename(NativePath(from).c_str(), NativePath(to).c_str()) != 0)
        return Fail("system error " + std::to_string(errno), from + " -> " + to + ": " + std::strerror(errno));
    return TOutcome::Done();
}

std::string ScanSubPath(std::string_view name, std::string_view mask)
{
    std::string picked;
    for (std::size_t i = 0; i < mask.size(); ++i)
        if (mask[i] == '*' && i < name.size())
            picked += name[i];
    return picked + '/' + std::string(name);
}

std::string EscapeFileName(std::string_view text)
{
    static constexpr std::pair<std::string_view, std::string_view> kCodes[] = {
        {"\\", "%5C"}, {"/", "%2F"}, {":", "%3A"}, {"*", "%2A"}, {"?", "%3F"},
        {"\"", "%22"}, {"<", "%3C"}, {">", "%3E"}, {"|", "%7C"},
    };
    std::string out(text);
    for (const auto& [ch, code] : kCodes)
        out = ReplaceAll(out, ch, code);
    return out;
}

std::string FileErrorText(int error)
{
    switch (error) {
    case ENOENT: return "no such file";
    case EISDIR: return "is a directory";
    case EACCES:
    case EPERM: return "permission denied";
    case ENOTDIR: return "a folder on its path is a file";
    default: return std::strerror(error);
    }
}

TOutcome CheckReadableFile(std::string_view path)
{
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return Fail(std::string(path) + ": " + FileErrorText(errno));
    struct stat st {};
    const int rc = ::fstat(fd, &st);
    const int error = errno;
    ::close(fd);
    if (rc != 0)
        return Fail(std::string(path) + ": " + FileErrorText(error));
    if (S_ISDIR(st.st_mode))
        return Fail(std::string(path) + ": " + FileErrorText(EISDIR));
    if (!S_ISREG(st.st_mode))
        return Fail(std::string(path) + ": not a regular file");
    return TOutcome::Done();
}

TResult<std::string> ReadFileBytes(std::string_view path, std::uint64_t maxBytes)
{
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Fail(std::string(path) + ": " + FileErrorText(errno));
    struct TClose {
        int Fd;
        ~TClose() { ::close(Fd); }
    } closer {fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return Fail(std::string(path) + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        return Fail(std::string(path) + ": " + FileErrorText(EISDIR));
    if (S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > maxBytes)
        return Fail(std::string(path) + ": larger than " + std::to_string(maxBytes) + " bytes");
    std::string out;
    if (S_ISREG(st.st_mode))
        out.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return Fail(std::string(path) + ": " + std::strerror(errno));
        }
        if (got == 0)
            break;
        if (out.size() + static_cast<std::uint64_t>(got) > maxBytes)
            return Fail(std::string(path) + ": larger than " + std::to_string(maxBytes) + " bytes");
        out.append(buf, static_cast<std::size_t>(got));
    }
    return out;
}

TOutcome WriteFileAtomic(std::string_view path, std::string_view bytes)
{
    return WriteOutputFile(path, bytes);
}

std::string UserAndGroup(unsigned uid, unsigned gid)
{
    const struct passwd* user = ::getpwuid(uid);
    std::string text = user ? user->pw_name : std::to_string(uid);
    const struct group* group = ::getgrgid(gid);
    return text + ":" + (group ? group->gr_name : std::to_string(gid));
}

std::string OctalMode(unsigned mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", mode & 07777);
    return text;
}

TOutcome CopyFileAtomic(std::string_view from, std::string_view to)
{
    const int fd = ::open(NativePath(from).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Fail(std::string(from) + ": " + std::strerror(errno));
    struct TClose {
        int Fd;
        ~TClose() { ::close(Fd); }
    } closer {fd};
    // The side that failed is named first; a full folder names its folder too.
    const auto named = [&to](const TOutcome& failed) {
        return Reworded(failed.Failure(), std::string(to) + ": " + failed.Reason());
    };
    TOutputFile file;
    if (const TOutcome opened = file.Open(to); !opened)
        return named(opened);
    char buf[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Fail(std::string(from) + ": " + std::strerror(errno));
        if (got == 0)
            break;
        if (const TOutcome written = file.Write(std::string_view(buf, static_cast<std::size_t>(got))); !written)
            return named(written);
    }
    if (const TOutcome committed = file.Commit(); !committed)
        return named(committed);
    return TOutcome::Done();
}

bool DeleteFileAt(std::string_view path)
{
    return ::unlink(NativePath(path).c_str()) == 0;
}

std::string FileIdentity(std::string_view path)
{
    struct stat st {};
    if (::stat(NativePath(path).c_str(), &st) != 0)
        return {};
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_mtim.tv_sec) +
           "." + std::to_string(st.st_mtim.tv_nsec);
}

std::vector<std::string> SplitLines(std::string_view bytes)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        auto end = bytes.find('\n', start);
        if (end == std::string_view::npos)
            end = bytes.size();
        std::size_t stop = end;
        if (stop > start && bytes[stop - 1] == '\r')
            --stop;
        lines.emplace_back(bytes.substr(start, stop - start));
        start = end + 1;
    }
    return lines;
}

TResult<std::vector<std::string>> ReadTextLines(std::string_view path, std::uint64_t maxBytes)
{
    TResult<std::string> bytes = ReadFileBytes(path, maxBytes);
    if (!bytes)
        return bytes.Failure();
    return SplitLines(*bytes);
}
