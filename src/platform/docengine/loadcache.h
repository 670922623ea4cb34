// Letterheads and templates are read again for every report. The parts a
// reading produced are kept, keyed by the file's bytes, and each later load
// of the same bytes gets a copy: several times cheaper than parsing, and a
// file changed on disk has other bytes, so it is read anew. At most 8
// readings and 24 MB (files and decoded pictures) are kept. A file is kept
// from its second reading on: the first is handed over whole, since most
// files converted once are never read again and their copy would be wasted.
#pragma once

#include "platform/docengine/enginepart.h"

#include <QByteArray>

#include <list>
#include <memory>

class TLoadCache {
public:
    // The reading of these bytes; made now unless kept. Valid until the next
    // call. own: it is not kept, and the caller may take its parts.
    TLoadedDocument& Read(const QByteArray& bytes, bool& own);

private:
    struct TEntry {
        QByteArray Bytes;
        std::unique_ptr<TLoadedDocument> Loaded;
        qint64 Weight = 0;  // bytes of the file and of its decoded pictures
    };
    std::list<TEntry> FEntries;  // most recently used first
    qint64 FWeight = 0;
    std::unique_ptr<TLoadedDocument> FUncached;
    std::list<std::pair<qsizetype, size_t>> FSeen;  // files read once and not kept: size and hash
};

// Copies that share nothing with the reading they come from, which stays
// as it was while they are edited or dropped.
void CopyPartKeepingIds(const TEnginePart& from, TEnginePart& into);
std::unique_ptr<TEnginePart> CopyOfPart(const TEnginePart& from);
std::vector<TPositionedShape> CopyShapes(const std::vector<TPositionedShape>& shapes);
