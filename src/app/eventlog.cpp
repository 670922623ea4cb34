#include "app/eventlog.h"

#include "util/codepage.h"

#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Words of the system's failure lines ("PDF Document creation FAILED", "ERROR: ...",
// "Could not create ...", "Spooler Socket error :10061").
constexpr std::string_view kErrorWords[] = {
    "error", "failed", "failure", "fails", "cannot", "can't", "could not", "refused", "refuses",
    "not set", "will close", "no printer entries", "no settings read", "unpritable", "unprintable",
    "forcing reset", "create - "};
// Lines that ask for a look but where the server goes on.
constexpr std::string_view kWarningWords[] = {
    "warning", "does not exist", "not present", "is missing", "not known", "locked",
    "does not answer", "stays in the spool folder", "waits in the spool folder", "no operator to answer",
    "did not", "no default printer", "no ip address", "not printed again"};

bool HasAny(std::string_view lower, const auto& words)
{
    return std::any_of(std::begin(words), std::end(words),
                       [lower](std::string_view word) { return lower.find(word) != std::string_view::npos; });
}

// A message's lines, without their breaks (CR LF, LF or CR).
std::vector<std::string> SplitLines(std::string_view text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\n' || text[i] == '\r') {
            parts.emplace_back(text.substr(start, i - start));
            if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    return parts;
}

}  // namespace

std::string TEventLog::Stamp(const QDateTime& when)
{
    return when.toString(QStringLiteral("dd-MM hh:mm:ss")).toStdString() + ">";
}

void TEventLog::loginfo(std::string_view message)
{
    Log(message, PriorityOf(message));
}

void TEventLog::logwarning(std::string_view message)
{
    Log(message, std::min<int>(PriorityOf(message), kWarning));
}

void TEventLog::Log(std::string_view message, int priority)
{
    const std::string line = Stamp(FClock ? FClock() : QDateTime::currentDateTime()) + std::string(message);
    FEntries.push_back({++FSeq, line, priority});
    while (FEntries.size() > kKeptEntries)
        FEntries.pop_front();

    while (FLines.size() > kWindowLines)
        FLines.pop_back();
    // A message with line breaks fills several lines of the list, first line on top.
    const std::vector<std::string> parts = SplitLines(line);
    FLines.insert(FLines.begin(), parts.begin(), parts.end());

    if (!FFilePath.empty()) {
        struct stat st {};
        if (FHold && ::stat(NativePath(FFilePath).c_str(), &st) != 0)
            FHeld.push_back(line);
        else
            AppendToFile(line);
    }
    if (FMirror) {
        const std::string text = MirrorText(line, message, FJournal);
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }
    if (FOnChanged)
        FOnChanged();
}

void TEventLog::AppendToFile(const std::string& line)
{
    // Opened and closed per line, so other programs may read or move it between lines.
    if (std::FILE* f = std::fopen(NativePath(FFilePath).c_str(), "ab")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fwrite("\r\n", 1, 2, f);
        std::fclose(f);
    }
}

void TEventLog::ReleaseHeldLines()
{
    FHold = false;
    if (!FFilePath.empty())
        for (const std::string& line : FHeld)
            AppendToFile(line);
    FHeld.clear();
}

TEventLog::TPriority TEventLog::PriorityOf(std::string_view message)
{
    std::string lower(message);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (HasAny(lower, kErrorWords))
        return kErr;
    if (HasAny(lower, kWarningWords))
        return kWarning;
    return kInfo;
}

std::string TEventLog::MirrorText(std::string_view line, std::string_view message, bool journal)
{
    if (!journal) {
        const QByteArray utf8 = ToUnicode(line).toUtf8();
        return utf8.toStdString() + '\n';
    }
    // Every line of the message carries the priority: the journal reads each on its own.
    const std::string prefix = "<" + std::to_string(PriorityOf(message)) + ">";
    std::string text;
    for (const std::string& part : SplitLines(message)) {
        if (part.empty())
            continue;
        text += prefix + ToUnicode(part).toUtf8().toStdString() + '\n';
    }
    return text.empty() ? prefix + '\n' : text;
}

bool TEventLog::StderrIsJournal(std::string_view stream)
{
    if (stream.empty())
        return false;
    struct stat st {};
    if (::fstat(STDERR_FILENO, &st) != 0)
        return false;
    const std::string own = std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
                            std::to_string(static_cast<unsigned long long>(st.st_ino));
    return own == stream;
}

namespace {

QtMessageHandler gPreviousHandler = nullptr;

void FilterQtNoise(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message == QLatin1String(kOffscreenSizeHints))
        return;
    if (gPreviousHandler)
        gPreviousHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

}  // namespace

void InstallQtNoiseFilter()
{
    gPreviousHandler = qInstallMessageHandler(FilterQtNoise);
}
