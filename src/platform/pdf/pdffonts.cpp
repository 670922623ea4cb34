#include "platform/pdf/pdffonts.h"

#include <QtGui/private/qfontengine_p.h>

#include <QFile>
#include <QFileInfo>

#include <hb-ot.h>
#include <hb-subset.h>
#include <hb.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <new>

struct TPdfFontFace::THb {
    hb_blob_t* Blob = nullptr;
    hb_face_t* Face = nullptr;
    ~THb()
    {
        hb_face_destroy(Face);
        hb_blob_destroy(Blob);
    }
};

TPdfFontFace::TPdfFontFace() = default;
TPdfFontFace::~TPdfFontFace() = default;

double TPdfFontFace::Width1000(unsigned glyph) const
{
    if (glyph >= Advances.size())
        return 0;
    return Advances[glyph] * 1000.0 / UnitsPerEm;
}

unsigned TPdfFontSubset::Map(unsigned glyph) const
{
    const auto at = std::lower_bound(NewGlyph.begin(), NewGlyph.end(), std::make_pair(glyph, 0u));
    return at != NewGlyph.end() && at->first == glyph ? at->second : 0;
}

namespace pdffonts {
namespace {

// Bounded: a few fonts per laboratory, but a CJK fallback face is 17 MB.
constexpr std::size_t kMaxFaces = 12;
constexpr std::size_t kMaxSubsets = 96;
constexpr int kKeptLevel = 6;
constexpr int kFastLevel = 3;

std::uint16_t U16(const QByteArray& table, int at)
{
    if (at + 2 > table.size())
        return 0;
    return static_cast<std::uint16_t>((static_cast<unsigned char>(table[at]) << 8) |
                                      static_cast<unsigned char>(table[at + 1]));
}

std::int16_t S16(const QByteArray& table, int at)
{
    return static_cast<std::int16_t>(U16(table, at));
}

QByteArray Table(hb_face_t* face, const char tag[4])
{
    hb_blob_t* blob = hb_face_reference_table(face, HB_TAG(tag[0], tag[1], tag[2], tag[3]));
    unsigned length = 0;
    const char* data = hb_blob_get_data(blob, &length);
    QByteArray bytes(data, static_cast<qsizetype>(length));
    hb_blob_destroy(blob);
    return bytes;
}

// A PostScript name as a PDF name may hold it.
QByteArray PdfSafeName(QByteArray name)
{
    QByteArray safe;
    for (const char c : name)
        if (c > 32 && c < 127 && !std::strchr("()<>[]{}/%#", c))
            safe += c;
    return safe.isEmpty() ? QByteArray("Font") : safe;
}

std::unique_ptr<TPdfFontFace> Load(const QByteArray& file, int index, const QByteArray& key)
{
    auto face = std::make_unique<TPdfFontFace>();
    face->Key = key;
    // Mapped, not read: a CJK face is 17 MB, of which a report touches little.
    face->File = std::make_unique<QFile>(QString::fromLocal8Bit(file));
    if (!face->File->open(QIODevice::ReadOnly) || face->File->size() <= 0)
        return nullptr;
    uchar* mapped = face->File->map(0, face->File->size());
    if (!mapped)
        return nullptr;
    face->Data = QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), face->File->size());
    face->Hb = std::make_unique<TPdfFontFace::THb>();
    face->Hb->Blob = hb_blob_create(face->Data.constData(), static_cast<unsigned>(face->Data.size()),
                                    HB_MEMORY_MODE_READONLY, nullptr, nullptr);
    face->Hb->Face = hb_face_create(face->Hb->Blob, static_cast<unsigned>(std::max(0, index)));
    hb_face_t* hb = face->Hb->Face;

    const QByteArray head = Table(hb, "head");
    const QByteArray hhea = Table(hb, "hhea");
    const QByteArray hmtx = Table(hb, "hmtx");
    if (Table(hb, "glyf").isEmpty() || head.size() < 54 || hhea.size() < 36)
        return nullptr;
    // Embedding forbidden by the font's licence: its outlines are drawn instead.
    const QByteArray os2 = Table(hb, "OS/2");
    if ((U16(os2, 8) & 0x000F) == 0x0002)
        return nullptr;

    face->UnitsPerEm = std::max<int>(16, U16(head, 18));
    for (int i = 0; i < 4; ++i)
        face->BBox[i] = S16(head, 36 + 2 * i);
    face->Ascent = S16(hhea, 4);
    face->Descent = S16(hhea, 6);
    face->CapHeight = U16(os2, 0) >= 2 && os2.size() >= 90 ? S16(os2, 88) : face->Ascent;
    const QByteArray post = Table(hb, "post");
    if (post.size() >= 16) {
        face->ItalicAngle = S16(post, 4) + U16(post, 6) / 65536.0;
        face->FixedPitch = U16(post, 12) != 0 || U16(post, 14) != 0;
    }
    face->NumGlyphs = static_cast<int>(hb_face_get_glyph_count(hb));
    const int metrics = U16(hhea, 34);
    face->Advances.resize(static_cast<std::size_t>(face->NumGlyphs));
    std::uint16_t last = 0;
    for (int g = 0; g < face->NumGlyphs; ++g) {
        if (g < metrics)
            last = U16(hmtx, 4 * g);
        face->Advances[static_cast<std::size_t>(g)] = last;
    }

    char name[128];
    unsigned size = sizeof name;
    if (hb_ot_name_get_utf8(hb, HB_OT_NAME_ID_POSTSCRIPT_NAME, HB_LANGUAGE_INVALID, &size, name) > 0)
        face->PostScriptName = PdfSafeName(QByteArray(name, static_cast<qsizetype>(size)));
    else
        face->PostScriptName = PdfSafeName(QFileInfo(QString::fromLocal8Bit(file)).baseName().toLatin1());
    return face;
}

struct TSubsetKey {
    QByteArray Face;
    std::vector<unsigned> Glyphs;
};

// Least recently used first.
std::list<std::pair<QByteArray, std::shared_ptr<const TPdfFontFace>>>& Faces()
{
    static std::list<std::pair<QByteArray, std::shared_ptr<const TPdfFontFace>>> faces;
    return faces;
}

std::list<std::pair<TSubsetKey, std::shared_ptr<const TPdfFontSubset>>>& Subsets()
{
    static std::list<std::pair<TSubsetKey, std::shared_ptr<const TPdfFontSubset>>> subsets;
    return subsets;
}

template <typename List, typename Key>
typename List::value_type::second_type* Lookup(List& list, const Key& key)
{
    for (auto at = list.begin(); at != list.end(); ++at)
        if (at->first == key) {
            list.splice(list.end(), list, at);
            return &list.back().second;
        }
    return nullptr;
}

template <typename List, typename Key, typename Value>
void Keep(List& list, Key key, Value value, std::size_t bound)
{
    list.emplace_back(std::move(key), std::move(value));
    while (list.size() > bound)
        list.pop_front();
}

bool operator==(const TSubsetKey& a, const TSubsetKey& b)
{
    return a.Face == b.Face && a.Glyphs == b.Glyphs;
}

std::shared_ptr<const TPdfFontSubset> MakeSubset(const TPdfFontFace& face, const std::vector<unsigned>& glyphs)
{
    hb_subset_input_t* input = hb_subset_input_create_or_fail();
    if (!input)
        return nullptr;
    hb_set_t* set = hb_subset_input_glyph_set(input);
    for (const unsigned g : glyphs)
        hb_set_add(set, g);
    // A PDF viewer needs the outlines and their metrics; shaping tables and
    // hinting only make the file bigger. The missing-glyph box stays, so a
    // character no font has still shows.
    hb_subset_input_set_flags(input, HB_SUBSET_FLAGS_NO_HINTING | HB_SUBSET_FLAGS_NOTDEF_OUTLINE);
    hb_set_t* drop = hb_subset_input_set(input, HB_SUBSET_SETS_DROP_TABLE_TAG);
    for (const char* tag : {"GSUB", "GPOS", "GDEF", "BASE", "JSTF", "MATH", "kern", "gasp", "DSIG", "hdmx", "LTSH",
                            "VDMX", "PCLT", "vhea", "vmtx", "morx", "feat"})
        hb_set_add(drop, HB_TAG(tag[0], tag[1], tag[2], tag[3]));

    std::shared_ptr<TPdfFontSubset> subset;
    if (hb_subset_plan_t* plan = hb_subset_plan_create_or_fail(face.Hb->Face, input)) {
        if (hb_face_t* result = hb_subset_plan_execute_or_fail(plan)) {
            hb_blob_t* blob = hb_face_reference_blob(result);
            unsigned length = 0;
            const char* data = hb_blob_get_data(blob, &length);
            if (length > 0) {
                subset = std::make_shared<TPdfFontSubset>();
                subset->Length = static_cast<int>(length);
                subset->Compressed = Deflate(QByteArray::fromRawData(data, static_cast<qsizetype>(length)));
                const hb_map_t* map = hb_subset_plan_old_to_new_glyph_mapping(plan);
                for (const unsigned g : glyphs)
                    if (hb_map_has(map, g))
                        subset->NewGlyph.emplace_back(g, hb_map_get(map, g));
            }
            hb_blob_destroy(blob);
            hb_face_destroy(result);
        }
        hb_subset_plan_destroy(plan);
    }
    hb_subset_input_destroy(input);
    return subset;
}

}  // namespace

std::shared_ptr<const TPdfFontFace> FaceOf(QFontEngine* engine)
{
    if (!engine)
        return nullptr;
    const QFontEngine::FaceId id = engine->faceId();
    if (id.filename.isEmpty())
        return nullptr;
    const QByteArray key = id.filename + '#' + QByteArray::number(id.index);
    auto& faces = Faces();
    if (auto* known = Lookup(faces, key))
        return *known;
    std::shared_ptr<const TPdfFontFace> face = Load(id.filename, id.index, key);
    Keep(faces, key, face, kMaxFaces);  // a face that cannot be embedded is remembered too
    return face;
}

std::shared_ptr<const TPdfFontSubset> SubsetOf(const TPdfFontFace& face, const std::vector<unsigned>& glyphs)
{
    TSubsetKey key {face.Key, glyphs};
    auto& subsets = Subsets();
    if (auto* known = Lookup(subsets, key))
        return *known;
    std::shared_ptr<const TPdfFontSubset> subset = MakeSubset(face, glyphs);
    if (subset)
        Keep(subsets, std::move(key), subset, kMaxSubsets);
    return subset;
}

QByteArray Deflate(const QByteArray& bytes, TPacking packing)
{
    // Two streams kept for the process: setting one up costs more than
    // compressing a font's small tables, and a small window and hash suit
    // small inputs.
    struct TDeflater {
        z_stream Stream {};
        bool Ready = false;
        TDeflater(int level, int windowBits, int memLevel)
        {
            Ready = deflateInit2(&Stream, level, Z_DEFLATED, windowBits, memLevel, Z_DEFAULT_STRATEGY) == Z_OK;
        }
        ~TDeflater()
        {
            if (Ready)
                deflateEnd(&Stream);
        }
    };
    static TDeflater small(kKeptLevel, 12, 5), large(kKeptLevel, 15, 8);
    static TDeflater smallFast(kFastLevel, 12, 5), largeFast(kFastLevel, 15, 8);
    const bool fast = packing == TPacking::Fast;
    TDeflater& d = bytes.size() < 4096 ? (fast ? smallFast : small) : (fast ? largeFast : large);
    if (d.Ready && deflateReset(&d.Stream) == Z_OK) {
        QByteArray out(static_cast<qsizetype>(deflateBound(&d.Stream, static_cast<uLong>(bytes.size()))),
                       Qt::Uninitialized);
        d.Stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
        d.Stream.avail_in = static_cast<uInt>(bytes.size());
        d.Stream.next_out = reinterpret_cast<Bytef*>(out.data());
        d.Stream.avail_out = static_cast<uInt>(out.size());
        if (deflate(&d.Stream, Z_FINISH) == Z_STREAM_END) {
            out.truncate(static_cast<qsizetype>(d.Stream.total_out));
            return out;
        }
    }
    // A stream that could not be set up (memory): zlib's one-shot call, and
    // never an empty stream in a PDF reported as saved.
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    QByteArray out(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(bytes.constData()),
                  static_cast<uLong>(bytes.size()), packing == TPacking::Fast ? kFastLevel : kKeptLevel) != Z_OK)
        throw std::bad_alloc();
    out.truncate(static_cast<qsizetype>(size));
    return out;
}

}  // namespace pdffonts
