#include "platform/docengine/loadcache.h"

#include "platform/docengine/rtfreader.h"

namespace {

// A lab has a few letterheads and a template per kind of report; a large
// file (a scan in a letterhead) is cheap to parse next to its pictures and
// would hold much memory.
constexpr std::size_t kMaxEntries = 8;
constexpr qsizetype kMaxBytesKept = 2 * 1024 * 1024;

}  // namespace

const TLoadedDocument& TLoadCache::Read(const QByteArray& bytes)
{
    for (auto it = FEntries.begin(); it != FEntries.end(); ++it)
        if (it->Bytes == bytes) {
            FEntries.splice(FEntries.begin(), FEntries, it);
            return *FEntries.front().Loaded;
        }
    auto loaded = std::make_unique<TLoadedDocument>();
    ReadRtf(bytes, *loaded);
    if (bytes.size() > kMaxBytesKept) {
        FUncached = std::move(loaded);
        return *FUncached;
    }
    FUncached.reset();
    FEntries.push_front({bytes, std::move(loaded)});
    if (FEntries.size() > kMaxEntries)
        FEntries.pop_back();
    return *FEntries.front().Loaded;
}

void CopyPartKeepingIds(const TEnginePart& from, TEnginePart& into)
{
    into.CopyContentFrom(from);
    for (const auto& [id, field] : from.Fields) {
        const auto [start, end] = from.FieldRange(field);
        into.AddField(id, start, end, field.Changeable, field.Kind);
    }
}

std::vector<TPositionedShape> CopyShapes(const std::vector<TPositionedShape>& shapes)
{
    std::vector<TPositionedShape> copies = shapes;
    for (TPositionedShape& shape : copies)
        if (shape.Text) {
            shape.Text.reset(shape.Text->clone());
            shape.Text->setUndoRedoEnabled(false);
        }
    return copies;
}
