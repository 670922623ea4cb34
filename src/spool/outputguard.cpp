#include "spool/outputguard.h"

#include "journal/journal.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/textutil.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The absolute path with links and ".." resolved as far as the path exists:
// the deepest existing folder is resolved, the rest appended as written.
std::string Resolved(std::string_view path)
{
    QFileInfo info(ToUnicode(path));
    QString absolute = QDir::cleanPath(info.absoluteFilePath());
    QString rest;
    while (!absolute.isEmpty()) {
        const QFileInfo here(absolute);
        if (here.exists()) {
            const QString canonical = here.canonicalFilePath();
            if (!canonical.isEmpty())
                return FromUnicode(rest.isEmpty() ? canonical : QDir::cleanPath(canonical + "/" + rest));
        }
        const int slash = absolute.lastIndexOf('/');
        if (slash <= 0)
            break;
        rest = rest.isEmpty() ? absolute.mid(slash + 1) : absolute.mid(slash + 1) + "/" + rest;
        absolute = absolute.left(slash);
    }
    return FromUnicode(QDir::cleanPath(info.absoluteFilePath()));
}

std::string AsFolder(std::string path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

}  // namespace

TOutputGuard::TOutputGuard(const TServerConfig& config)
{
    const std::string home = IncludeTrailingSlash(config.ProgramDir);
    const std::string journal = TJournal::kFileName;
    for (const std::string& name : {std::string("printserver.inf"), std::string("tags.txt"),
                                    std::string("printerdriverdata.reg"), std::string("spoolerLog.txt"), journal,
                                    journal + "-wal", journal + "-shm", journal + "-journal"})
        FOwnFiles.push_back(Resolved(home + name));
    const std::string spool = IncludeTrailingSlash(config.SpoolDir);
    // The spool folder's own folders first: the most exact reason wins.
    const std::pair<const char*, std::string> folders[] = {{"the unprintable folder", spool + "unprintable/"},
                                                           {"the failed folder", spool + "failed/"},
                                                           {"the spool folder", spool},
                                                           {"the LPR queue folder", config.LprQueueDir},
                                                           {"the templates folder", config.TemplatesDir},
                                                           {"the overlay folder", config.OverlayDir}};
    for (const auto& [role, path] : folders)
        if (!Trim(path).empty())
            FFolders.push_back({role, AsFolder(Resolved(path))});
}

std::string TOutputGuard::Refusal(std::string_view path) const
{
    if (Trim(path).empty())
        return "it names no file";
    const std::string target = Resolved(path);
    for (const std::string& own : FOwnFiles)
        if (target == own)
            return "it is the server's own file " + own;
    for (const TFolder& folder : FFolders)
        if (AsFolder(target) == folder.Path || target.compare(0, folder.Path.size(), folder.Path) == 0)
            return "it lies in " + folder.Role + " " + folder.Path;
    return {};
}
