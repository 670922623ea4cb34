// printorb-tool parse FILE [--tags TAGS.TXT] [--home DIR]: the record a request gives, as JSON.
#include "request/reportrecord.h"
#include "compose/dynamictarget.h"
#include "request/tagfile.h"
#include "tool/commands.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/serverhome.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>

namespace {

using json = nlohmann::ordered_json;

constexpr std::uint64_t kMaxRequestBytes = 256ull * 1024 * 1024;

std::string Utf8(std::string_view text)
{
    return ToUnicode(text).toStdString();
}

json ImageJson(const TImageRecord& image)
{
    return json {{"FileName", Utf8(image.FileName)}, {"PosX", image.PosX},
                 {"PosY", image.PosY},               {"ScaleX", image.ScaleX},
                 {"ScaleY", image.ScaleY},           {"TargetWidth", image.TargetWidth},
                 {"TargetHeight", image.TargetHeight}, {"LayoutCodeA", image.LayoutCodeA},
                 {"LayoutCodeB", image.LayoutCodeB}, {"Distance1", image.Distance1},
                 {"Distance2", image.Distance2},     {"Distance3", image.Distance3},
                 {"Distance4", image.Distance4},     {"FromRequest", image.FromRequest}};
}

}  // namespace

int ParseCommand(const TCommandLine& line)
{
    if (const std::string unreadable = CannotRead(line.Arg(0)); !unreadable.empty())
        return ExitFailed(unreadable);
    std::string text;
    if (!ReadRequestText(line.Arg(0), text, kMaxRequestBytes))
        return ExitFailed("cannot read the request file " + line.Arg(0));
    const std::string tagsPath = line.Value("--tags", TServerHome(line.Home()).Tags());
    // Without the tag file the values have no names: the record would mislead.
    if (!FileExists(tagsPath))
        return ExitFailed("no tag file at " + tagsPath + " (use --tags FILE or --home DIR)");

    TStderrLog log;
    TReportRecord record;
    record.DrawDynamicRange = DrawDynamicRangeGraph;  // as the server draws them
    std::vector<std::string> tagList;
    ResetRecord(tagsPath, tagList, record, log);
    ParseIntoRecord(record, text);

    json out;
    out["TemplateName"] = Utf8(record.TemplateName);
    out["ScanId"] = Utf8(record.ScanId);
    out["EmbeddedDocument"] = Utf8(record.EmbeddedDocument);
    out["ResultText"] = Utf8(record.ResultText);
    out["PrinterNumber"] = Utf8(record.PrinterNumber);
    out["OutputDocument"] = Utf8(record.OutputDocument);
    out["PrintMask"] = Utf8(record.PrintMask);
    out["PrnFileName"] = Utf8(record.PrnFileName);
    out["PrnOtherFileName"] = Utf8(record.PrnOtherFileName);
    out["PrintMask2"] = Utf8(record.PrintMask2);
    out["PaperTray"] = Utf8(record.PaperTray);
    out["NoFooter"] = record.NoFooter;
    out["IsFax"] = record.IsFax;
    json values = json::array();
    for (const TReportValue& v : record.Values())
        values.push_back({{"key", Utf8(v.Key)}, {"name", Utf8(v.Name)}, {"value", Utf8(v.Value)}});
    out["values"] = std::move(values);
    json images = json::array();
    for (const TImageRecord& image : record.Images)
        images.push_back(ImageJson(image));
    out["images"] = std::move(images);
    std::cout << out.dump(2) << '\n';
    return 0;
}
