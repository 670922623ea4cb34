#include "request/reportrecord.h"

#include "util/fileutil.h"
#include "util/textutil.h"

const std::vector<std::string_view>& TReportRecord::FirstFieldList()
{
    static const std::vector<std::string_view> names = {
        "TEMPLATE",  "REQCODE",   "PROCCODE",  "PATCODE",     "PATSUR",       "PATGIVEN",   "PATTITLE",
        "PATADD1",   "PATADD2",   "PATADD3",   "PATPC",       "PATAGE",       "PATDOB",     "PATGENDER",
        "TERM",      "DOCCODE",   "DOCSUR",    "DOCGIVEN",    "DOCTITLE",     "DOCADD1",    "DOCADD2",
        "DOCADD3",   "DOCPC",     "DOCPROVIDER", "DOCPHONE",  "WARD",         "WARDHIGHLIGHT", "YOURREF",
        "SERVICEDATE", "PRINTER", "FILEID",    "SCANID",      "COLLDATE",     "RECDATE",    "IMAGEBOX",
        "REPORTDATE", "PRINTDATE", "VALIDATED", "OTHERTESTS", "REPORTFLAG",   "DEPARTMENT",
    };
    return names;
}

const std::vector<std::string_view>& TReportRecord::SecondFieldList()
{
    static const std::vector<std::string_view> names = {
        "REPORTTITLE", "SERVICEPROVIDER", "INSTANTRETURN", "PMASK",        "PMASK2",       "PDFDOC",
        "RESULTTEXT",  "TEXTFONT",        "TEXTSIZE",      "PAPERTRAY",    "NOFOOTER",     "TPLOVERRIDE",
        "ORIENTATION", "SAVEDOC",         "APPROVALCHECK", "DYNAMICRANGE", "RETURNCONF",   "AUDIODATA",
        "AUDIOFILE",   "ISFAX",           "B64DATA",
    };
    return names;
}

void TReportRecord::ClearValues()
{
    FValues.clear();
    FNameIndex.clear();
    FKeyIndex.clear();
}

void TReportRecord::RebuildIndexes()
{
    FNameIndex.clear();
    FKeyIndex.clear();
    for (std::size_t i = 0; i < FValues.size(); ++i) {
        FNameIndex.emplace(UpperCase(FValues[i].Name), static_cast<int>(i));
        FKeyIndex.emplace(FValues[i].Key, static_cast<int>(i));
    }
}

int TReportRecord::IndexOfName(std::string_view name) const
{
    const auto it = FNameIndex.find(UpperCase(name));
    return it == FNameIndex.end() ? -1 : it->second;
}

int TReportRecord::IndexOfKey(std::string_view key) const
{
    const auto it = FKeyIndex.find(std::string(key));
    return it == FKeyIndex.end() ? -1 : it->second;
}

int TReportRecord::SetOrAdd(int index, std::string_view key, std::string_view name, std::string_view value)
{
    if (index >= 0) {
        FValues[static_cast<std::size_t>(index)].Value = std::string(value);
        return index;
    }
    index = static_cast<int>(FValues.size());
    FValues.push_back({std::string(key), std::string(name), std::string(value)});
    FNameIndex.emplace(UpperCase(name), index);
    FKeyIndex.emplace(std::string(key), index);
    return index;
}

int TReportRecord::SetValue(std::string_view name, std::string_view value)
{
    return SetOrAdd(IndexOfName(name), {}, name, value);
}

std::string TReportRecord::GetValue(std::string_view name) const
{
    const int index = IndexOfName(name);
    return index < 0 ? std::string() : FValues[static_cast<std::size_t>(index)].Value;
}

int TReportRecord::SetValueByKey(std::string_view key, std::string_view value)
{
    return SetOrAdd(IndexOfKey(key), key, {}, value);
}

std::string TReportRecord::GetValueByKey(std::string_view key) const
{
    const int index = IndexOfKey(key);
    return index < 0 ? std::string() : FValues[static_cast<std::size_t>(index)].Value;
}

void TReportRecord::LoadTags(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines) {
        const std::string key = TextBefore(line, "|");
        int index = IndexOfKey(key);
        if (index < 0)
            index = SetValueByKey(key, "");
        FValues[static_cast<std::size_t>(index)].Name = TextBefore(TextAfter(line, "|"), "|");
    }
    RebuildIndexes();  // names changed
}

void TReportRecord::ResetFields()
{
    for (const auto* list : {&FirstFieldList(), &SecondFieldList()}) {
        std::string text;
        for (std::string_view name : *list) {
            if (!text.empty())
                text += '^';
            text += "HV_";
            text += name;
            text += '~';
        }
        ParseRequest(text);
    }
}

void TReportRecord::FillJobSlots()
{
    PrinterNumber = GetValue("PRINTER");
    ScanId = GetValue("SCANID");
    PrintMask = GetValue("PMASK");
    PrnFileName = GetValue("PRNFILENAME");
    if (!PrnFileName.empty() && LowerCase(ExtractFileExt(PrnFileName)) != ".prn")
        PrnFileName += ".prn";
    PrnOtherFileName = GetValue("PRNOTHERFILENAME");
    PrintMask2 = GetValue("PMASK2");
    const std::string pdf = GetValue("PDFDOC");
    OutputDocument = pdf.empty() ? GetValue("SAVEDOC") : "pdf_" + pdf;
    IsFax = !GetValue("ISFAX").empty() || !GetValue("FaxNumber").empty();
}
