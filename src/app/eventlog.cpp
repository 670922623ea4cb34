#include "app/eventlog.h"

#include "util/codepage.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

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

void TEventLog::logline(TSeverity severity, std::string_view message)
{
    const std::string line = Stamp(FClock ? FClock() : QDateTime::currentDateTime()) + std::string(message);
    const TPriority priority = PriorityOf(severity);
    FEntries.push_back({++FSeq, line, priority});
    while (FEntries.size() > kKeptEntries)
        FEntries.pop_front();

    while (FLines.size() > kWindowLines)
        FLines.pop_back();
    // A message with line breaks fills several lines of the list, first line on top.
    const std::vector<std::string> parts = SplitLines(line);
    for (auto part = parts.rbegin(); part != parts.rend(); ++part)
        FLines.push_front({*part, severity});

    if (!FFilePath.empty()) {
        struct stat st {};
        if (FHold && ::stat(NativePath(FFilePath).c_str(), &st) != 0)
            FHeld.push_back(line);
        else
            AppendToFile(line);
    }
    if (FMirror) {
        const std::string text = MirrorText(line, message, priority, FJournal);
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

TEventLog::TPriority TEventLog::PriorityOf(TSeverity severity)
{
    switch (severity) {
    case TSeverity::Error: return kErr;
    case TSeverity::Warning: return kWarning;
    case TSeverity::Info: break;
    }
    return kInfo;
}

std::string TEventLog::MirrorText(std::string_view line, std::string_view message, TPriority priority, bool journal)
{
    if (!journal) {
        const QByteArray utf8 = ToUnicode(line).toUtf8();
        return utf8.toStdString() + '\n';
    }
    // Every line of the message carries the priority: the journal reads each on its own.
    const std::string prefix = "<" + std::to_string(priority) + ">";
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
