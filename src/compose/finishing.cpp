#include "compose/finishing.h"

#include "compose/mergefields.h"
#include "util/codepage.h"

TOutcome FinishReport(DocumentEngine& engine, TReportRecord& record, const std::vector<std::string>& tagList)
{
    // Merges of headers and footers never fail: a tag they cannot fill stays text.
    // Every header a page shows: the plain one, the first page's, the left pages'.
    for (const int part : engine.HeaderParts())
        static_cast<void>(MergeFields(engine, part, record, tagList, true));

    const int pages = engine.CurrentPages();
    record.SetValue("pcnt", std::to_string(pages > 0 ? pages : 1));
    if (const TOutcome merged = MergeFields(engine, DocumentEngine::MainPart, record, tagList, false); !merged)
        return merged;

    // The validation or interim line goes on every footer, so that no page
    // of an unvalidated report looks validated.
    for (const int part : engine.FooterParts()) {
        if (!record.NoFooter && !record.GetValidated().empty()) {
            const std::string line = "          " + record.GetReportFlag() + record.GetServiceDate() + " Tests:" +
                                     record.GetOtherTests().substr(0, 18) + " Validated by " + record.GetValidated();
            engine.ReplaceText(part, 0, 0, ToUnicode(line));
        } else if (!record.NoFooter) {
            const QString interim = engine.PartText(part) + QStringLiteral("          INTERIM REPORT");
            engine.SetPartText(part, interim, {.Color = 255});
        }
        static_cast<void>(MergeFields(engine, part, record, tagList, true));
    }
    return TOutcome::Done();
}

void ApplyTextMarkers(DocumentEngine& engine, const TReportRecord& record)
{
    constexpr int kMain = DocumentEngine::MainPart;
    // Start cut: from the second character through the line feed that ends the "!" line.
    if (const int bang = static_cast<int>(engine.PartText(kMain).indexOf(QStringLiteral("\n!"))); bang >= 0) {
        // Positions 1 to q go; the first character stays.
        if (const int q = static_cast<int>(engine.PartText(kMain).indexOf(QLatin1Char('\n'), bang + 1)); q >= 0)
            engine.ReplaceText(kMain, 1, q, QString());
    }
    // End cut: from the line feed before "*" to the end.
    if (const int star = static_cast<int>(engine.PartText(kMain).indexOf(QStringLiteral("\n*"))); star >= 0)
        engine.ReplaceText(kMain, star, static_cast<int>(engine.PartText(kMain).size()), QString());
    // Approval cut: everything after the last "approved by:" line.
    const std::string check = record.GetValue("APPROVALCHECK");
    const QString text = engine.PartText(kMain);
    if ((check == "1" || (!check.empty() && check[0] == 'y')) &&
        text.toLower().contains(QStringLiteral("\napproved by:"))) {
        const int last = static_cast<int>(text.lastIndexOf(QStringLiteral("\napproved by:"), -1, Qt::CaseInsensitive));
        if (const int end = static_cast<int>(text.indexOf(QLatin1Char('\n'), last + 1)); last >= 0 && end != -1)
            engine.ReplaceText(kMain, end, static_cast<int>(text.size()), QString());
    }
}
