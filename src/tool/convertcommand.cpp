// printorb-tool convert IN OUT: a letterhead or template as the engine reads
// it, written as PDF (.pdf), RTF (.rtf, .doc) or the engine's own format
// (.txw, .tpl), so that its author can check it before deploying it.
#include "platform/docengine/documentengine.h"
#include "tool/commands.h"
#include "util/fileutil.h"

#include <QFileInfo>
#include <QString>

#include <cmath>
#include <cstdio>
#include <iostream>

namespace {

// A page size as people name it: "A4 portrait, 210 x 297 mm".
std::string PageSizeText(int widthTwips, int heightTwips)
{
    const double w = widthTwips * 25.4 / 1440.0;
    const double h = heightTwips * 25.4 / 1440.0;
    struct TNamed {
        const char* Name;
        double Short, Long;
    };
    static const TNamed sizes[] = {{"A3", 297, 420},       {"A4", 210, 297},         {"A5", 148, 210},
                                   {"Letter", 215.9, 279.4}, {"Legal", 215.9, 355.6}, {"B5", 176, 250}};
    std::string name = "custom";
    for (const TNamed& size : sizes) {
        const double s = std::min(w, h), l = std::max(w, h);
        if (std::abs(s - size.Short) < 1.5 && std::abs(l - size.Long) < 1.5)
            name = std::string(size.Name) + (w > h ? " landscape" : " portrait");
    }
    char text[96];
    std::snprintf(text, sizeof text, "%s, %.0f x %.0f mm", name.c_str(), w, h);
    return text;
}

// Why a file is neither RTF nor text; empty when it is one of them. Text in
// a Windows code page has high bytes, never NULs or runs of control bytes.
std::string NotRtfOrText(const std::string& path)
{
    const TResult<std::string> bytes = ReadFileBytes(path, 256ull * 1024 * 1024);
    if (!bytes)
        return bytes.Reason();
    const std::string_view head = std::string_view(*bytes).substr(0, 65536);
    const auto start = head.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    if (start != std::string_view::npos && head.substr(start, 5) == "{\\rtf")
        return {};
    std::size_t control = 0;
    for (std::size_t i = 0; i < head.size(); ++i) {
        const auto b = static_cast<unsigned char>(head[i]);
        if (b == 0)
            return "binary data (a NUL byte at offset " + std::to_string(i) + "), neither RTF nor text";
        if ((b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f') || b == 0x7F)
            ++control;
    }
    if (control * 100 > head.size())
        return "binary data (" + std::to_string(control) + " control bytes in its first " +
               std::to_string(head.size()) + "), neither RTF nor text";
    return {};
}

}  // namespace

int FormatForFile(const std::string& path)
{
    const QString suffix = QFileInfo(QString::fromStdString(path)).suffix().toLower();
    if (suffix == QLatin1String("pdf"))
        return DocumentEngine::PdfFormat;
    if (suffix == QLatin1String("rtf") || suffix == QLatin1String("doc"))
        return DocumentEngine::WordFormat;
    if (suffix == QLatin1String("txw") || suffix == QLatin1String("tpl"))
        return DocumentEngine::OwnFormat;
    throw TUsageError("cannot tell the output format of " + path + ": use .pdf, .rtf, .doc, .txw or .tpl");
}

int ConvertCommand(const TCommandLine& line)
{
    const std::string& in = line.Arg(0);
    const std::string& out = line.Arg(1);
    const int format = FormatForFile(out);
    if (const std::string unreadable = CannotRead(in); !unreadable.empty())
        return ExitFailed(unreadable);
    if (!OutputFolderExists(out))
        return ExitFailed("the folder of " + out + " does not exist");
    DocumentEngine engine;
    if (const TOutcome loaded = engine.LoadDocument(QString::fromStdString(in)); !loaded)
        return ExitFailed(in + ": " + loaded.Reason());
    // The engine reads any other bytes as text: a page of garbage.
    if (const std::string why = NotRtfOrText(in); !why.empty())
        return ExitFailed(in + ": " + why);
    if (const TOutcome saved = engine.SaveDocument(QString::fromStdString(out), format); !saved)
        return ExitFailed(out + ": " + saved.Reason());
    std::cout << out << ": " << engine.CurrentPages() << " page(s), "
              << PageSizeText(engine.PageWidth(), engine.PageHeight()) << " (" << engine.PageWidth() << " x "
              << engine.PageHeight() << " twips)\n";
    for (int section = 1; section < engine.SectionCount(); ++section) {
        const auto setup = engine.SectionSetup(section);
        std::cout << "  section " << section + 1 << ": " << PageSizeText(setup.PageWidth, setup.PageHeight) << '\n';
    }
    return kExitOk;
}
