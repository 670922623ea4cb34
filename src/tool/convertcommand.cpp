// printorb-tool convert IN OUT: a letterhead or template as the engine reads
// it, written as PDF (.pdf), RTF (.rtf, .doc) or the engine's own format
// (.txw, .tpl), so that its author can check it before deploying it.
#include "platform/docengine/documentengine.h"
#include "tool/commands.h"

#include <QFileInfo>
#include <QString>

#include <iostream>

int FormatForFile(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("pdf"))
        return DocumentEngine::PdfFormat;
    if (suffix == QLatin1String("rtf") || suffix == QLatin1String("doc"))
        return DocumentEngine::WordFormat;
    if (suffix == QLatin1String("txw") || suffix == QLatin1String("tpl"))
        return DocumentEngine::OwnFormat;
    return 0;
}

int ConvertCommand(const TArgs& args)
{
    const TArgs files = Positionals(args, {});
    if (files.size() != 2) {
        std::cerr << "usage: printorb-tool convert IN OUT   (OUT: .pdf, .rtf/.doc, .txw/.tpl)\n";
        return 2;
    }
    const QString in = QString::fromStdString(files[0]);
    const QString out = QString::fromStdString(files[1]);
    const int format = FormatForFile(out);
    if (format == 0) {
        std::cerr << "Cannot tell the output format of " << files[1] << ": use .pdf, .rtf, .doc, .txw or .tpl\n";
        return 1;
    }
    DocumentEngine engine;
    try {
        engine.LoadDocument(in, 0, FormatForFile(in) == DocumentEngine::OwnFormat ? 3 : 9, false);
    } catch (const EDocumentEngineError& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
    if (!engine.SaveDocument(out, -1, format, false)) {
        std::cerr << engine.LastError().toStdString() << '\n';
        return 1;
    }
    std::cerr << files[1] << ": " << engine.CurrentPages() << " page(s), " << engine.PageWidth() << " x "
              << engine.PageHeight() << " twips\n";
    return 0;
}
