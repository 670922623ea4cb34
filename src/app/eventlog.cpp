#include "app/eventlog.h"

#include "util/codepage.h"

#include <cstdio>
#include <vector>

std::string TEventLog::Stamp(const QDateTime& when)
{
    return when.toString(QStringLiteral("dd-MM hh:mm:ss")).toStdString() + ">";
}

void TEventLog::loginfo(std::string_view message)
{
    const std::string line = Stamp(FClock ? FClock() : QDateTime::currentDateTime()) + std::string(message);

    while (FLines.size() > kWindowLines)
        FLines.pop_back();
    // A message with line breaks fills several lines of the list, first line on top.
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == '\n' || line[i] == '\r') {
            parts.emplace_back(line, start, i - start);
            if (i + 1 < line.size() && line[i] == '\r' && line[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    FLines.insert(FLines.begin(), parts.begin(), parts.end());

    if (!FFilePath.empty()) {
        // Opened and closed per line, so other programs may read or move it between lines.
        if (std::FILE* f = std::fopen(NativePath(FFilePath).c_str(), "ab")) {
            std::fwrite(line.data(), 1, line.size(), f);
            std::fwrite("\r\n", 1, 2, f);
            std::fclose(f);
        }
    }
    if (FMirror) {
        const QByteArray utf8 = ToUnicode(line).toUtf8();
        std::fwrite(utf8.constData(), 1, static_cast<std::size_t>(utf8.size()), stderr);
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }
    if (FOnChanged)
        FOnChanged();
}
