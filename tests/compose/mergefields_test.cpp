#include "compose/mergefields.h"

#include "support/testsupport.h"

#include <QTextCursor>
#include <QTextFrame>
#include <QTextTable>

#include <gtest/gtest.h>

namespace {

// A record as a job has it: tags loaded, fields reset, a request parsed.
TReportRecord Record(const std::string& request, const std::vector<std::string>& tags)
{
    TReportRecord r;
    r.DrawDynamicRange = nullptr;
    r.LoadTags(tags);
    r.ResetFields();
    r.ParseRequest(request);
    return r;
}

const std::vector<std::string> kTags = {"0|TEMPLATE", "1|REQCODE", "2|PROCCODE", "3|PATSUR", "4|PATGIVEN",
                                        "5|PATTITLE", "6|PATADD1", "7|PATADD2", "8|PATADD3", "9|PATPC",
                                        "10|PATDOB", "012|DOCSUR"};

TOutcome Merge(DocumentEngine& e, int part, const QString& text, const TReportRecord& r,
               const std::vector<std::string>& tags)
{
    e.SetPartText(part, text);
    return MergeFields(e, part, r, tags, part != DocumentEngine::MainPart);
}

}  // namespace

TEST(MergeFields, TagKindsInTheMainText)
{
    const TReportRecord r = Record("HV_PATSUR~SMITH^HV_REQCODE~R1^HV_DOCSUR~JONES", kTags);
    struct Case {
        const char* tag;
        const char* text;
        bool changeable;
        int kind;
    };
    const Case cases[] = {
        {"<<PATSUR>>", "SMITH", true, 0},       {"<< PATSUR >>", " ", true, 0},   {"<<3>>", "SMITH", false, 0},
        {"<< 3 >>", "SMITH", false, 0},         {"<<x3>>", "SMITH", false, 0},    {"<<$3>>", "SMITH", false, 0},
        {"<<12>>", "???", true, 0},            {"<<-1>>", "???", true, 0},       {"<<99>>", "???", true, 0},
        {"<<11>>", "", false, 0},               {"<<>>", " ", true, 0},           {"<<UNote>>", "Note", true, 20},
        {"<<U>>", " ", true, 20},               {"<<unused>>", "nused", true, 20}, {"<<MISSING>>", " ", true, 0},
        {"<<reqcode>>", "R1", true, 0},
    };
    for (const Case& c : cases) {
        DocumentEngine e;
        ASSERT_TRUE(Merge(e, DocumentEngine::MainPart, QString("[") + c.tag + "]", r, kTags));
        EXPECT_EQ(e.Text().toStdString(), std::string("[") + c.text + "]") << c.tag;
        const auto ids = e.FieldIds(DocumentEngine::MainPart);
        ASSERT_EQ(ids.size(), 1u) << c.tag;
        ASSERT_TRUE(e.SetFieldCurrent(ids[0]));
        EXPECT_EQ(e.FieldChangeable(), c.changeable) << c.tag;
        EXPECT_EQ(e.FieldKind(ids[0]), c.kind) << c.tag;
    }
}

TEST(MergeFields, HeaderTagsAreLocked)
{
    const TReportRecord r = Record("HV_PATSUR~SMITH", kTags);
    DocumentEngine e;
    ASSERT_TRUE(Merge(e, DocumentEngine::HeaderPart, "<<PATSUR>> <<UNote>> <<3>> <<77>>", r, kTags));
    EXPECT_EQ(e.PartText(DocumentEngine::HeaderPart), "SMITH   SMITH ???");
    const auto ids = e.FieldIds(DocumentEngine::HeaderPart);
    ASSERT_EQ(ids.size(), 4u);
    const bool changeable[] = {false, false, false, true};
    for (std::size_t i = 0; i < ids.size(); ++i) {
        ASSERT_TRUE(e.SetFieldCurrent(ids[i]));
        EXPECT_EQ(e.FieldChangeable(), changeable[i]) << i;
        EXPECT_EQ(e.FieldKind(ids[i]), 0) << i;
    }
    // An empty tag writes nothing in a header, so the pass stops on it.
    DocumentEngine stop;
    ASSERT_TRUE(Merge(stop, DocumentEngine::HeaderPart, "<<PATSUR>> <<>> <<PATSUR>>", r, kTags));
    EXPECT_EQ(stop.PartText(DocumentEngine::HeaderPart), "SMITH <<>> <<PATSUR>>");
}

TEST(MergeFields, AddressTagsCloseTheGap)
{
    const std::string address = "HV_PATADD1~1 MAIN ST^HV_PATADD3~TOWN^HV_PATPC~3000";
    const TReportRecord withoutSecond = Record(address, kTags);
    const TReportRecord withSecond = Record(address + "^HV_PATADD2~PO BOX 7", kTags);
    DocumentEngine a;
    ASSERT_TRUE(Merge(a, DocumentEngine::MainPart, "<<6>>|<<7>>|<<8>>|<<9>>", withoutSecond, kTags));
    EXPECT_EQ(a.Text(), "1 MAIN ST|TOWN 3000||");
    DocumentEngine b;
    ASSERT_TRUE(Merge(b, DocumentEngine::MainPart, "<<6>>|<<7>>|<<8>>|<<9>>", withSecond, kTags));
    EXPECT_EQ(b.Text(), "1 MAIN ST|PO BOX 7|TOWN|3000");
    EXPECT_EQ(TagValue(withoutSecond, 7), "TOWN 3000");
}

TEST(MergeFields, PassesAndTheirEnds)
{
    const TReportRecord r = Record("HV_PATSUR~SMITH", kTags);
    DocumentEngine atStart;  // a tag at position 0 and every one after it
    ASSERT_TRUE(Merge(atStart, DocumentEngine::MainPart, "<<PATSUR>>\n<<PATSUR>> and <<PATSUR>>", r, kTags));
    EXPECT_EQ(atStart.Text(), "SMITH\nSMITH and SMITH");

    DocumentEngine unbalanced;  // "<<abc" stays, a later tag is still merged
    ASSERT_TRUE(Merge(unbalanced, DocumentEngine::MainPart, "<<abc then <<PATSUR>>", r, kTags));
    EXPECT_EQ(unbalanced.Text(), "<<abc then SMITH");
    DocumentEngine onlyOpen;
    ASSERT_TRUE(Merge(onlyOpen, DocumentEngine::MainPart, "x <<abc", r, kTags));
    EXPECT_EQ(onlyOpen.Text(), "x <<abc");

    // Without tags.txt every numbered tag shows "???".
    const TReportRecord noTags = Record("HV_PATSUR~SMITH", {});
    DocumentEngine none;
    ASSERT_TRUE(Merge(none, DocumentEngine::MainPart, "<<3>> <<PATSUR>>", noTags, {}));
    EXPECT_EQ(none.Text(), "??? SMITH");

    // A value holding a tag does not merge again.
    const TReportRecord tricky = Record("HV_PATSUR~<<PATSUR>>", kTags);
    DocumentEngine loop;
    ASSERT_TRUE(Merge(loop, DocumentEngine::MainPart, "<<PATSUR>>!", tricky, kTags));
    EXPECT_EQ(loop.Text(), "<<PATSUR>>!");
}

TEST(MergeFields, ABadTagKeyEndsTheMainMergeOnly)
{
    const std::vector<std::string> bad = {"zero|TEMPLATE", "1|REQCODE"};
    const TReportRecord r = Record("HV_REQCODE~R1", bad);
    DocumentEngine main;
    const TOutcome merged = Merge(main, DocumentEngine::MainPart, "<<0>> <<1>>", r, bad);
    EXPECT_FALSE(merged);
    EXPECT_EQ(merged.Reason(), "'zero' is not a valid integer value");
    EXPECT_EQ(main.Text(), "<<0>> <<1>>");
    DocumentEngine header;
    EXPECT_TRUE(Merge(header, DocumentEngine::HeaderPart, "<<1>> <<0>> <<1>>", r, bad));
    // The failed field keeps its tag and the pass stops there.
    EXPECT_EQ(header.PartText(DocumentEngine::HeaderPart), "R1 <<0>> <<1>>");
}

TEST(MergeFields, TagsInTableCellsStayInTheirCells)
{
    // A results table as templates have it: a tag in a cell, the cells
    // around it untouched, the table still a table.
    TTempDir dir;
    WriteFile(dir / "table.rtf",
              "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\trowd\\cellx2000\\cellx5000\\cellx8000"
              "\\pard\\intbl Patient\\cell <<PATSUR>>\\cell <<DOCSUR>>\\cell\\row"
              "\\trowd\\cellx2000\\cellx5000\\cellx8000\\pard\\intbl Hb\\cell 135\\cell g/L\\cell\\row\\pard End\\par}");
    const TReportRecord r = Record("HV_PATSUR~SMITH^HV_DOCSUR~JONES", kTags);
    DocumentEngine e;
    ASSERT_TRUE(e.LoadDocument(QString::fromStdString(dir / "table.rtf")));
    ASSERT_TRUE(MergeFields(e, DocumentEngine::MainPart, r, kTags, false));
    QTextTable* table = nullptr;
    for (auto it = e.PartDocument(DocumentEngine::MainPart)->rootFrame()->begin(); !it.atEnd() && !table; ++it)
        table = qobject_cast<QTextTable*>(it.currentFrame());
    ASSERT_NE(table, nullptr);
    auto cellText = [&](int row, int column) {
        const QTextTableCell cell = table->cellAt(row, column);
        QTextCursor c(cell.firstCursorPosition());
        c.setPosition(cell.lastCursorPosition().position(), QTextCursor::KeepAnchor);
        return c.selectedText();
    };
    EXPECT_EQ(cellText(0, 0), "Patient");
    EXPECT_EQ(cellText(0, 1), "SMITH");
    EXPECT_EQ(cellText(0, 2), "JONES");
    EXPECT_EQ(cellText(1, 1), "135");
    EXPECT_TRUE(e.Text().endsWith("End"));
}
