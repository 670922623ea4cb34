#include "compose/finishing.h"

#include "compose/mergefields.h"
#include "util/codepage.h"

bool FinishReport(DocumentEngine& engine, TReportRecord& record, const std::vector<std::string>& tagList)
{
    // Every header a page shows: the plain one, the first page's, the left pages'.
    for (const int part : engine.HeaderParts()) {
        engine.ActivatePart(part);
        engine.SelectPart(part);
        MergeFields(engine, record, tagList, true);
    }

    engine.ActivatePart(DocumentEngine::MainPart);
    std::string pages = "1";
    try {
        const int count = engine.CurrentPages();
        if (count > 0)
            pages = std::to_string(count);
    } catch (const std::exception&) {
    }
    record.SetValue("pcnt", pages);
    MergeFields(engine, record, tagList, false);

    // The validation or interim line goes on every footer, so that no page
    // of an unvalidated report looks validated.
    for (const int part : engine.FooterParts()) {
        engine.ActivatePart(part);
        engine.SetSelStart(static_cast<int>(engine.Text().size()));
        if (!record.NoFooter) {
            if (!record.GetValidated().empty()) {
                engine.SetSelStart(0);
                engine.SetSelLength(0);
                const std::string line = "          " + record.GetReportFlag() + record.GetServiceDate() + " Tests:" +
                                         record.GetOtherTests().substr(0, 18) + " Validated by " +
                                         record.GetValidated();
                engine.SetSelText(ToUnicode(line));
            } else {
                engine.SetForeColor(255);
                engine.SetText(engine.Text() + QStringLiteral("          INTERIM REPORT"));
            }
        }
        engine.SetSelStart(static_cast<int>(engine.Text().size()));
        MergeFields(engine, record, tagList, true);
    }

    engine.ActivatePart(DocumentEngine::MainPart);
    engine.SelectPart(DocumentEngine::MainPart);
    engine.SetSelLength(0);
    return true;
}

void ApplyTextMarkers(DocumentEngine& engine, const TReportRecord& record)
{
    // Start cut: from the second character through the line feed that ends the "!" line.
    if (engine.Text().contains(QStringLiteral("\n!"))) {
        engine.SetSelStart(engine.Find(QStringLiteral("\n!"), 0));
        engine.SetSelLength(2);
        if (engine.SelText() == QStringLiteral("\n!")) {
            const int q = engine.Find(QStringLiteral("\n"), engine.SelStart() + 1);
            if (q >= 0) {
                // Positions 1 to q go; the first character stays.
                engine.SetSelStart(1);
                engine.SetSelLength(q);
                engine.SetSelText(QString());
            }
        }
    }
    // End cut: from the line feed before "*" to the end.
    if (engine.Text().contains(QStringLiteral("\n*"))) {
        engine.SetSelStart(engine.Find(QStringLiteral("\n*"), 0));
        engine.SetSelLength(2);
        if (engine.SelText() == QStringLiteral("\n*")) {
            engine.SetSelLength(static_cast<int>(engine.Text().size()));
            engine.SetSelText(QString());
        }
    }
    // Approval cut: everything after the last "approved by:" line.
    const std::string check = record.GetValue("APPROVALCHECK");
    if ((check == "1" || (!check.empty() && check[0] == 'y')) &&
        engine.Text().toLower().contains(QStringLiteral("\napproved by:"))) {
        int last = -1;
        for (int from = 0;;) {
            const int match = engine.Find(QStringLiteral("\napproved by:"), from, 24);
            if (match < 0)
                break;
            last = match;
            from = match + 1;
        }
        if (last >= 0) {
            const int end = engine.Find(QStringLiteral("\n"), last + 1);
            if (end != -1) {
                engine.SetSelStart(end);
                engine.SetSelLength(static_cast<int>(engine.Text().size()));
                engine.SetSelText(QString());
            }
        }
    }
}
