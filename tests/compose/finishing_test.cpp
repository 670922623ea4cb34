#include "compose/finishing.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>

namespace {

TReportRecord Record(const std::string& request)
{
    TReportRecord r;
    r.DrawDynamicRange = nullptr;
    r.ResetFields();
    r.ParseRequest(request);
    return r;
}

QString PartText(const DocumentEngine& e, int part)
{
    return e.PartText(part);
}

}  // namespace

TEST(FinishReport, ValidationLineAtTheStartOfTheFooter)
{
    TReportRecord r = Record("HV_VALIDATED~DR X^HV_REPORTFLAG~..^HV_SERVICEDATE~01/01/2001^"
                             "HV_OTHERTESTS~ABCD,EFGH,HIJK,LMNO,PQRS^HV_DOCSUR~JONES");
    DocumentEngine e;
    e.ActivatePart(DocumentEngine::FooterPart);
    e.SetSelText("\nDr <<DOCSUR>>");
    e.SetSelStart(1);
    e.SetSelLength(2);
    ASSERT_TRUE(FinishReport(e, r, {}));
    EXPECT_EQ(PartText(e, DocumentEngine::FooterPart),
              "          ..01/01/2001 Tests:ABCD,EFGH,HIJK,LMN Validated by DR X\nDr JONES");
    // Finishing steers no cursor: the part being edited stays so.
    EXPECT_EQ(e.ActivePart(), DocumentEngine::FooterPart);
    EXPECT_EQ(e.SelLength(), 2);
}

TEST(FinishReport, InterimNoticeInRedOrNothingWithNoFooter)
{
    TReportRecord r = Record("HV_VALIDATED~");
    DocumentEngine e;
    e.ActivatePart(DocumentEngine::FooterPart);
    e.SetSelText("Lab");
    ASSERT_TRUE(FinishReport(e, r, {}));
    EXPECT_EQ(PartText(e, DocumentEngine::FooterPart), "Lab          INTERIM REPORT");
    e.ActivatePart(DocumentEngine::FooterPart);
    e.SetSelStart(20);
    e.SetSelLength(1);
    EXPECT_EQ(e.ForeColor(), 255);
    e.SetSelStart(0);
    e.SetSelLength(1);
    EXPECT_EQ(e.ForeColor(), 0);

    for (const char* request : {"HV_NOFOOTER~y^HV_VALIDATED~", "HV_NOFOOTER~yes^HV_VALIDATED~DR X"}) {
        TReportRecord quiet = Record(request);
        DocumentEngine q;
        q.ActivatePart(DocumentEngine::FooterPart);
        q.SetSelText("Lab");
        ASSERT_TRUE(FinishReport(q, quiet, {}));
        EXPECT_EQ(PartText(q, DocumentEngine::FooterPart), "Lab") << request;
    }
}

TEST(FinishReport, PageCountReachesMainAndFooterButNotHeader)
{
    TReportRecord r = Record("HV_VALIDATED~DR X");
    DocumentEngine e;
    e.ActivatePart(DocumentEngine::HeaderPart);
    e.SetSelText("H<<pcnt>>");
    e.ActivatePart(DocumentEngine::FooterPart);
    e.SetSelText("F<<pcnt>>");
    e.ActivatePart(DocumentEngine::MainPart);
    QString text = "M<<pcnt>>\n";
    for (int i = 0; i < 130; ++i)
        text += "line\n";
    e.SetSelText(text);
    ASSERT_TRUE(FinishReport(e, r, {}));
    EXPECT_EQ(PartText(e, DocumentEngine::HeaderPart), "H ");
    EXPECT_TRUE(e.Text().startsWith("M3\n"));
    EXPECT_TRUE(PartText(e, DocumentEngine::FooterPart).endsWith("F3"));
    EXPECT_EQ(r.GetValue("pcnt"), "3");

    TReportRecord one = Record("");
    DocumentEngine empty;
    ASSERT_TRUE(FinishReport(empty, one, {}));
    EXPECT_EQ(one.GetValue("pcnt"), "1");
}

TEST(FinishReport, EveryHeaderAndFooterVariantIsFinished)
{
    // A letterhead with a first-page header and left-page footer: the
    // patient's name is filled in each header and every footer carries the
    // validation line, so that no page shows a raw tag or lacks it.
    TTempDir dir;
    WriteFile(dir / "letterhead.rtf",
              "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\facingp\\titlepg"
              "{\\headerf First <<PATSUR>>\\par}{\\headerr Right <<PATSUR>>\\par}{\\headerl Left <<PATSUR>>\\par}"
              "{\\footerf FirstFoot\\par}{\\footerr RightFoot\\par}{\\footerl LeftFoot\\par}"
              "Body\\page More\\page End\\par}");
    TReportRecord r = Record("HV_VALIDATED~DR X^HV_PATSUR~SMITH");
    DocumentEngine e;
    ASSERT_TRUE(e.LoadDocument(QString::fromStdString(dir / "letterhead.rtf")));
    ASSERT_EQ(e.CurrentPages(), 3);
    ASSERT_TRUE(FinishReport(e, r, {}));
    EXPECT_EQ(PartText(e, DocumentEngine::HeaderFirstPart), "First SMITH");
    EXPECT_EQ(PartText(e, DocumentEngine::HeaderPart), "Right SMITH");
    EXPECT_EQ(PartText(e, DocumentEngine::HeaderLeftPart), "Left SMITH");
    for (const int part : {DocumentEngine::FooterFirstPart, DocumentEngine::FooterPart, DocumentEngine::FooterLeftPart})
        EXPECT_TRUE(PartText(e, part).contains("Validated by DR X")) << part;
    EXPECT_EQ(e.ActivePart(), DocumentEngine::MainPart);
}

TEST(ApplyTextMarkers, StartEndAndApprovalCuts)
{
    struct Case {
        const char* text;
        const char* approval;
        const char* result;
    };
    const Case cases[] = {
        {"A\n!cut\nB", "", "AB"},
        {"A\nkeep\n!cut\nB", "", "AB"},
        {"A\n*rest\nmore", "", "A"},
        {"no markers\nhere", "", "no markers\nhere"},
        {"A\n!no end", "", "A\n!no end"},
        {"R\napproved by: X\nmid\napproved by: Y\ntail", "yes", "R\napproved by: X\nmid\napproved by: Y"},
        {"R\napproved by: X\nmid\napproved by: Y\ntail", "1", "R\napproved by: X\nmid\napproved by: Y"},
        {"R\napproved by: X\ntail", "Yes", "R\napproved by: X\ntail"},
        {"R\napproved by: X\ntail", "0", "R\napproved by: X\ntail"},
        {"\napproved by: X\ntail", "y", "\napproved by: X"},
        {"R\nApproved By: X\ntail", "y", "R\nApproved By: X"},
        {"R\napproved by: last line", "y", "R\napproved by: last line"},
    };
    for (const Case& c : cases) {
        TReportRecord r = Record(std::string("HV_APPROVALCHECK~") + c.approval);
        DocumentEngine e;
        e.SetSelText(c.text);
        ApplyTextMarkers(e, r);
        EXPECT_EQ(e.Text().toStdString(), c.result) << c.text << " / " << c.approval;
    }
}
