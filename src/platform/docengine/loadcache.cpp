#include "platform/docengine/loadcache.h"

#include "platform/docengine/rtfreader.h"

#include <QImage>
#include <QUrl>

#include <algorithm>

namespace {

// A lab has a few letterheads and a template per kind of report. What is
// kept is weighed by its file and its decoded pictures: a letterhead with a
// scan in it is parsed again each time rather than held.
constexpr std::size_t kMaxEntries = 8;
constexpr qint64 kMaxEntryWeight = 8 * 1024 * 1024;
constexpr qint64 kMaxWeight = 24 * 1024 * 1024;
constexpr std::size_t kMaxSeen = 64;

qint64 WeightOf(const QByteArray& bytes, const TLoadedDocument& loaded)
{
    qint64 weight = bytes.size();
    auto pictures = [&](const TEnginePart& part) {
        for (const auto& [name, picture] : part.Pictures)
            weight += part.Doc->resource(QTextDocument::ImageResource, QUrl(name)).value<QImage>().sizeInBytes() +
                      picture.Encoded.size();
    };
    for (const TEnginePart* part : {&loaded.Header, &loaded.Footer, &loaded.Main, &loaded.HeaderFirst,
                                    &loaded.FooterFirst, &loaded.HeaderLeft, &loaded.FooterLeft})
        pictures(*part);
    for (const auto& [position, body] : loaded.Footnotes)
        pictures(*body);
    for (const auto* images : {&loaded.Images, &loaded.OwnImages})
        for (const TPositionedImage& image : *images)
            weight += image.Image.sizeInBytes() + image.Encoded.size();
    return weight;
}

}  // namespace

TLoadedDocument& TLoadCache::Read(const QByteArray& bytes, bool& own)
{
    own = false;
    for (auto it = FEntries.begin(); it != FEntries.end(); ++it)
        if (it->Bytes == bytes) {
            FEntries.splice(FEntries.begin(), FEntries, it);
            return *FEntries.front().Loaded;
        }
    auto loaded = std::make_unique<TLoadedDocument>();
    ReadRtf(bytes, *loaded);
    // A hash that matches by chance only keeps a reading one time early.
    const std::pair<qsizetype, size_t> key {bytes.size(), qHash(bytes)};
    const auto seen = std::find(FSeen.begin(), FSeen.end(), key);
    const bool again = seen != FSeen.end();
    if (again)
        FSeen.erase(seen);
    const qint64 weight = WeightOf(bytes, *loaded);
    if (weight > kMaxEntryWeight || !again) {
        if (!again) {
            FSeen.push_front(key);
            if (FSeen.size() > kMaxSeen)
                FSeen.pop_back();
        }
        FUncached = std::move(loaded);
        own = true;
        return *FUncached;
    }
    FUncached.reset();
    FEntries.push_front({bytes, std::move(loaded), weight});
    FWeight += weight;
    while (FEntries.size() > kMaxEntries || FWeight > kMaxWeight) {
        FWeight -= FEntries.back().Weight;
        FEntries.pop_back();
    }
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

std::unique_ptr<TEnginePart> CopyOfPart(const TEnginePart& from)
{
    auto copy = std::make_unique<TEnginePart>();
    CopyPartKeepingIds(from, *copy);
    return copy;
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
