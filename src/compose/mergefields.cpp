#include "compose/mergefields.h"

#include "util/codepage.h"
#include "util/textutil.h"

#include <optional>
#include <stdexcept>

namespace {

enum class TTagKind { Numbered, Empty, User, Named };

struct TTag {
    TTagKind Kind = TTagKind::Named;
    int Number = 0;
    std::string Inner;
};

TTag Classify(const std::string& inner)
{
    TTag tag;
    tag.Inner = inner;
    if (const auto number = TryStrToInt(RemoveChar(inner, ' '))) {
        tag.Kind = TTagKind::Numbered;
        tag.Number = *number;
    } else if (inner.empty()) {
        tag.Kind = TTagKind::Empty;
    } else if (inner[0] == 'U' || inner[0] == 'u') {
        tag.Kind = TTagKind::User;
    }
    return tag;
}

// The key of a tags.txt line: the number before its first "|".
int LineKey(const std::string& line)
{
    const auto key = TryStrToInt(TextBefore(line, "|"));
    if (!key)
        throw std::invalid_argument("'" + TextBefore(line, "|") + "' is not a valid integer value");
    return *key;
}

std::string OrBlank(const std::string& value)
{
    return value.empty() ? std::string(" ") : value;
}

}  // namespace

std::string TagValue(const TReportRecord& record, int key)
{
    const bool secondLine = !record.GetValue("patadd2").empty();
    switch (key) {
    case 6: return record.GetValue("PatAdd1");
    case 7: return secondLine ? record.GetValue("patadd2") : record.GetValue("Patadd3") + " " + record.GetValue("patpc");
    case 8: return secondLine ? record.GetValue("Patadd3") : std::string();
    case 9: return secondLine ? record.GetValue("patpc") : std::string();
    default: return record.GetValueByKey(std::to_string(key));
    }
}

namespace {

// A tag of the main text as its field: the value, changeable unless it came
// from the tag file. Writing one field may fail; the merge goes on.
void FillMainTextField(DocumentEngine& engine, const TReportRecord& record, const std::vector<std::string>& tagList,
                       const TTag& tag, const std::string& inner)
{
    const int count = static_cast<int>(tagList.size());
    std::string text;
    bool changeable = true;
    switch (tag.Kind) {
    case TTagKind::Numbered:
        // A bad tags.txt key ends the merge here.
        if (tag.Number < 0 || tag.Number >= count) {
            text = "???";
        } else {
            text = TagValue(record, LineKey(tagList[static_cast<std::size_t>(tag.Number)]));
            changeable = false;
        }
        break;
    case TTagKind::Empty: text = " "; break;
    case TTagKind::User:
        text = OrBlank(inner.substr(1));
        static_cast<void>(engine.SetFieldKind(engine.FieldCurrent(), 20));  // the field was just made
        break;
    case TTagKind::Named: text = OrBlank(record.GetValue(inner)); break;
    }
    if (engine.SetFieldText(ToUnicode(text)))
        static_cast<void>(engine.SetFieldChangeable(changeable));
}

// A tag of the header or footer: locked values; any failure leaves the tag
// text, which ends the pass.
void FillHeaderFooterField(DocumentEngine& engine, const TReportRecord& record,
                           const std::vector<std::string>& tagList, const TTag& tag, const std::string& inner)
{
    const int count = static_cast<int>(tagList.size());
    const auto fill = [&](const QString& text, bool changeable) {
        if (engine.SetFieldText(text))
            static_cast<void>(engine.SetFieldChangeable(changeable));
    };
    try {
        switch (tag.Kind) {
        case TTagKind::Numbered:
            if (tag.Number < 0 || tag.Number >= count)
                fill(QStringLiteral("???"), true);
            else
                fill(ToUnicode(TagValue(record, LineKey(tagList[static_cast<std::size_t>(tag.Number)]))), false);
            break;
        case TTagKind::Named:
        case TTagKind::User: fill(ToUnicode(OrBlank(record.GetValue(inner))), false); break;
        case TTagKind::Empty: break;
        }
    } catch (const std::exception&) {
    }
}

}  // namespace

void MergeFields(DocumentEngine& engine, const TReportRecord& record, const std::vector<std::string>& tagList,
                 bool headerFooterMode)
{
    int pos = 0;
    std::optional<int> previous;
    for (;;) {
        const int open = engine.Find(QStringLiteral("<<"), pos, 24);
        if (open < 0)
            break;
        const int close = engine.Find(QStringLiteral(">>"), open, 24);
        const int nextOpen = close < 0 ? -1 : engine.Find(QStringLiteral("<<"), open + 2, 24);
        if (close < 0 || (nextOpen >= 0 && nextOpen < close)) {
            // An unbalanced "<<" stays text, also when a later tag's ">>" follows:
            // the template's text up to that tag must not vanish into a field.
            pos = open + 2;
        } else {
            engine.SetSelStart(open);
            if (engine.SelStart() != open)
                break;
            engine.SetSelLength(close + 2 - open);
            if (engine.SelLength() != 0) {
                // No field: the tag stays text, and the pass stops on it.
                const int id = engine.InsertField(QString()).ValueOr(0);
                pos = open;
                const std::string inner = FromUnicode(engine.Text().mid(open + 2, close - open - 2));
                const TTag tag = Classify(inner);
                if (id >= 1 && !headerFooterMode)
                    FillMainTextField(engine, record, tagList, tag, inner);
                else if (id >= 1)
                    FillHeaderFooterField(engine, record, tagList, tag, inner);
            }
        }
        if (engine.Text().size() <= pos || (previous && *previous == pos))
            break;
        previous = pos;
    }
}

std::vector<std::string> TagsInText(std::string_view text)
{
    std::vector<std::string> tags;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t open = text.find("<<", pos);
        if (open == std::string_view::npos)
            break;
        const std::size_t close = text.find(">>", open);
        const std::size_t nextOpen = text.find("<<", open + 2);
        if (close == std::string_view::npos || (nextOpen != std::string_view::npos && nextOpen < close)) {
            pos = open + 2;
            continue;
        }
        tags.emplace_back(text.substr(open + 2, close - open - 2));
        pos = close + 2;
    }
    return tags;
}

std::vector<std::string> DocumentTags(DocumentEngine& engine)
{
    std::vector<int> parts = engine.HeaderParts();
    parts.push_back(DocumentEngine::MainPart);
    for (int part : engine.FooterParts())
        parts.push_back(part);
    const int active = engine.ActivePart();
    std::vector<std::string> tags;
    for (int part : parts) {
        engine.ActivatePart(part);
        for (std::string& tag : TagsInText(FromUnicode(engine.Text())))
            tags.push_back(std::move(tag));
    }
    engine.ActivatePart(active);
    return tags;
}

bool TagFileKnows(std::string_view inner, const std::vector<std::string>& tagList)
{
    const TTag tag = Classify(std::string(inner));
    switch (tag.Kind) {
    case TTagKind::Numbered: return tag.Number >= 0 && tag.Number < static_cast<int>(tagList.size());
    case TTagKind::Empty:
    case TTagKind::User: return true;
    case TTagKind::Named: break;
    }
    for (const std::string& line : tagList)
        if (SameText(TextBefore(TextAfter(line, "|"), "|"), inner))
            return true;
    return false;
}
