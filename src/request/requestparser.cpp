// The request syntax: fields "HV_NAME~value" separated by "^HV_".
#include "request/reportrecord.h"

#include "util/textutil.h"

#include <vector>

namespace {

constexpr std::string_view kSeparator = "^HV_";

// First occurrence of needle in haystack in linear time (Knuth-Morris-Pratt),
// so that no request can make the parse quadratic.
std::size_t FindLinear(std::string_view haystack, std::string_view needle)
{
    if (needle.empty())
        return 0;
    std::vector<std::size_t> fail(needle.size(), 0);
    for (std::size_t i = 1, k = 0; i < needle.size(); ++i) {
        while (k > 0 && needle[i] != needle[k])
            k = fail[k - 1];
        if (needle[i] == needle[k])
            ++k;
        fail[i] = k;
    }
    for (std::size_t i = 0, k = 0; i < haystack.size(); ++i) {
        while (k > 0 && haystack[i] != needle[k])
            k = fail[k - 1];
        if (haystack[i] == needle[k])
            ++k;
        if (k == needle.size())
            return i + 1 - k;
    }
    return std::string_view::npos;
}

std::string WithoutCrLf(std::string_view value)
{
    return RemoveChars(value, "\r\n");
}

}  // namespace

TImageRecord ImageBoxRecord(std::string_view value)
{
    // Empty sub-fields give 0; sub-fields that are not integers give the defaults.
    auto number = [&](int n, int notInteger) {
        const std::string field = NthField(value, ',', n);
        if (field.empty())
            return 0;
        return TryStrToInt(field).value_or(notInteger);
    };
    TImageRecord image;
    image.FileName = NthField(value, ',', 1);
    image.PosX = static_cast<std::int32_t>(static_cast<std::uint32_t>(number(2, 0)) * 20u);
    image.PosY = static_cast<std::int32_t>(static_cast<std::uint32_t>(number(3, 0)) * 20u);
    image.ScaleX = number(4, 100);
    image.ScaleY = number(5, 100);
    image.TargetWidth = number(6, 0);
    image.TargetHeight = number(7, 0);
    image.LayoutCodeA = 0;
    image.LayoutCodeB = 3;
    image.Distance1 = image.Distance2 = image.Distance3 = image.Distance4 = 20;
    image.FromRequest = true;
    return image;
}

void TReportRecord::ParseRequest(std::string_view request)
{
    Images.clear();
    std::string text(request);

    // The embedded document is taken out first, only when it follows a separator.
    if (const auto pos = text.find("^HV_B64DATA~"); pos != std::string::npos) {
        const std::size_t start = pos + 12;
        std::size_t end = text.find(kSeparator, start);
        if (end == std::string::npos)
            end = text.size();
        EmbeddedDocument = RemoveChars(std::string_view(text).substr(start, end - start), std::string_view("\r\n\0^ ", 5));
        text.erase(pos, end - pos);
    }

    // Audio data is cut out wherever it stands, keeping one separator between fields.
    if (const auto pos = text.find("HV_AUDIODATA~"); pos != std::string::npos) {
        const std::size_t end = text.find(kSeparator, pos + 13);
        if (pos > 0 && text[pos - 1] == '^')
            text.erase(pos - 1, (end == std::string::npos ? text.size() : end) - (pos - 1));
        else if (pos == 0 && end != std::string::npos)
            text.erase(0, end + 1);
        else
            text.erase(pos, (end == std::string::npos ? text.size() : end) - pos);
    }

    text += kSeparator;
    std::string_view rest(text);
    for (;;) {
        const auto hv = rest.find("HV_");
        if (hv == std::string_view::npos)
            break;
        std::string_view field = rest.substr(hv + 3);
        field = field.substr(0, field.find(kSeparator));
        if (field.empty())
            break;  // an empty field ends the request
        const auto tilde = field.find('~');
        const std::string_view name = field.substr(0, tilde);
        const std::string value = tilde == std::string_view::npos ? std::string() : WithoutCrLf(field.substr(tilde + 1));
        HandleField(name, value);
        // Everything after this field text, found as its first occurrence.
        const auto at = FindLinear(rest.substr(0, hv + 3 + field.size()), field);
        rest = rest.substr(at + field.size());
    }
}

void TReportRecord::HandleField(std::string_view name, std::string_view value)
{
    if (name == "TEMPLATE") {
        TemplateName = std::string(value);
    } else if (name == "PATGENDER") {
        SetValue("PATGENDER", value.empty() ? std::string(1, '\0') : std::string(value.substr(0, 1)));
    } else if (name == "NOFOOTER") {
        const char first = value.empty() ? '\0' : LowerCase(value.substr(0, 1))[0];
        NoFooter = first == 't' || first == 'y';
    } else if (name == "EXTRADATA") {
        // carried by some requests; nothing reads it
    } else if (name == "RESULTTEXT") {
        ResultText = std::string(value);
        SetValue(name, value);
    } else if (name == "PAPERTRAY") {
        PaperTray = std::string(value);
        SetValue(name, value);
    } else if (name == "DYNAMICRANGE") {
        if (!value.empty() && DrawDynamicRange)
            DrawDynamicRange(value);
    } else if (name == "IMAGEBOX") {
        if (!value.empty())
            Images.push_back(ImageBoxRecord(value));
    } else {
        SetValue(name, value);
    }
}
