#include "compose/mergefields.h"

#include "util/codepage.h"
#include "util/textutil.h"

#include <optional>

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

// What a tag's field holds, in system text; or the tag text stays.
struct TTagFill {
    std::string Text;
    bool Changeable = true;
    std::optional<int> Kind = std::nullopt;
    bool Stays = false;
};

// In the main text the value, changeable unless it came from the tag file,
// and a tags.txt key that is no number fails the merge. In a header or
// footer the value, locked; an empty tag or a bad key stays text.
TResult<TTagFill> FillOf(const TTag& tag, const TReportRecord& record, const std::vector<std::string>& tagList,
                         bool headerFooter)
{
    const TTagFill stays {.Text = {}, .Stays = true};
    switch (tag.Kind) {
    case TTagKind::Numbered: {
        if (tag.Number < 0 || tag.Number >= static_cast<int>(tagList.size()))
            return TTagFill {"???"};
        const std::string& line = tagList[static_cast<std::size_t>(tag.Number)];
        const std::optional<int> key = TryStrToInt(TextBefore(line, "|"));
        if (!key && headerFooter)
            return stays;
        if (!key)
            return Fail("'" + TextBefore(line, "|") + "' is not a valid integer value");
        return TTagFill {TagValue(record, *key), false};
    }
    case TTagKind::Empty: return headerFooter ? stays : TTagFill {" "};
    case TTagKind::User:
        if (!headerFooter)
            return TTagFill {OrBlank(tag.Inner.substr(1)), true, 20};
        break;
    case TTagKind::Named: break;
    }
    return TTagFill {OrBlank(record.GetValue(tag.Inner)), !headerFooter};
}

}  // namespace

TOutcome MergeFields(DocumentEngine& engine, int part, const TReportRecord& record,
                     const std::vector<std::string>& tagList, bool headerFooterMode)
{
    // An unbalanced "<<" stays text, also when a later tag's ">>" follows:
    // the template's text up to that tag must not vanish into a field. A
    // failed tag stays text, so the pass ends on it.
    TOutcome merged;
    engine.FillMarkedFields(part, QStringLiteral("<<"), QStringLiteral(">>"),
                            [&](const QString& inner) -> std::optional<TFieldFill> {
                                const TResult<TTagFill> fill =
                                    FillOf(Classify(FromUnicode(inner)), record, tagList, headerFooterMode);
                                if (!fill)
                                    merged = fill.Failure();
                                if (!fill || fill->Stays)
                                    return std::nullopt;
                                return TFieldFill {ToUnicode(fill->Text), fill->Changeable, fill->Kind};
                            });
    return merged;
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

std::vector<std::string> DocumentTags(const DocumentEngine& engine)
{
    std::vector<int> parts = engine.HeaderParts();
    parts.push_back(DocumentEngine::MainPart);
    for (int part : engine.FooterParts())
        parts.push_back(part);
    std::vector<std::string> tags;
    for (int part : parts)
        for (std::string& tag : TagsInText(FromUnicode(engine.PartText(part))))
            tags.push_back(std::move(tag));
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
