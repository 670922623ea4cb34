#include "request/reportrecord.h"

#include <gtest/gtest.h>

namespace {

// A record prepared as for a job, with graph drawing recorded instead of done.
struct TParsed {
    TReportRecord Record;
    std::vector<std::string> Graphs;

    explicit TParsed(std::string_view text, std::vector<std::string> tags = {})
    {
        Record.DrawDynamicRange = [this](std::string_view value) { Graphs.emplace_back(value); };
        Record.LoadTags(tags);
        Record.ResetFields();
        Record.ParseRequest(text);
    }
    std::string operator[](std::string_view name) const { return Record.GetValue(name); }
};

}  // namespace

TEST(ParseRequest, FieldSyntax)
{
    struct Case {
        const char* text;
        std::vector<std::pair<const char*, std::string>> expected;
    };
    const Case cases[] = {
        {"HV_A~x~y^HV_B~1", {{"A", "x~y"}, {"B", "1"}}},
        {"HV_A~a^b^HV_B~HV_c", {{"A", "a^b"}, {"B", "HV_c"}}},
        {"HV_FOO^HV_X~1", {{"FOO", ""}, {"X", "1"}}},
        {"junk before HV_A~1", {{"A", "1"}}},
        {"HV_A~1^", {{"A", "1^"}}},
        {"HV_DOCPC~9999 ^HV_Z~2", {{"DOCPC", "9999 "}, {"Z", "2"}}},
        {"HV_A~li\r\nne\r^HV_B~x\ny", {{"A", "line"}, {"B", "xy"}}},
        {"HV_A~1^HV_^HV_B~2", {{"A", "1"}, {"B", ""}}},        // an empty field ends the parse
        {"HV_A~1^HV_A~2^HV_a~3", {{"A", "3"}}},                 // the last occurrence wins, names without case
        {"HV_reqcode~R1", {{"REQCODE", "R1"}, {"ReqCode", "R1"}}},
    };
    for (const Case& c : cases) {
        TParsed p(c.text);
        for (const auto& [name, value] : c.expected)
            EXPECT_EQ(p[name], value) << c.text << " / " << name;
    }
}

TEST(ParseRequest, SpecialNames)
{
    TParsed p("HV_TEMPLATE~LH1^HV_RESULTTEXT~~line~^HV_PAPERTRAY~Tray2^HV_EXTRADATA~zz^HV_PATGENDER~female");
    EXPECT_EQ(p.Record.TemplateName, "LH1");
    EXPECT_EQ(p["TEMPLATE"], "");  // not stored as a value
    EXPECT_EQ(p.Record.ResultText, "~line~");
    EXPECT_EQ(p["RESULTTEXT"], "~line~");
    EXPECT_EQ(p.Record.PaperTray, "Tray2");
    EXPECT_EQ(p["PAPERTRAY"], "Tray2");
    EXPECT_EQ(p.Record.IndexOfName("EXTRADATA"), -1);
    EXPECT_EQ(p["PATGENDER"], "f");

    TParsed lower("HV_template~LH1");  // special names count only in capitals
    EXPECT_EQ(lower.Record.TemplateName, "");
    EXPECT_EQ(lower["TEMPLATE"], "LH1");

    TParsed empty("HV_PATGENDER~^HV_X~1");
    EXPECT_EQ(empty["PATGENDER"], std::string(1, '\0'));
}

TEST(ParseRequest, NoFooterValues)
{
    const std::pair<const char*, bool> cases[] = {{"Yes", true}, {"true", true}, {"T", true}, {"y", true},
                                                  {"1", false},  {"no", false},  {"", false}, {" yes", false}};
    for (const auto& [value, on] : cases) {
        TParsed p(std::string("HV_NOFOOTER~") + value);
        EXPECT_EQ(p.Record.NoFooter, on) << value;
        EXPECT_EQ(p["NOFOOTER"], "");
    }
}

TEST(ParseRequest, EmbeddedDocumentIsCutOutAfterASeparatorOnly)
{
    TParsed middle("HV_REQCODE~R1^HV_B64DATA~QU JD\r\n^^HV_PROCCODE~P1");
    EXPECT_EQ(middle.Record.EmbeddedDocument, "QUJD");
    EXPECT_EQ(middle["REQCODE"], "R1");
    EXPECT_EQ(middle["PROCCODE"], "P1");
    EXPECT_EQ(middle["B64DATA"], "");

    TParsed last("HV_REQCODE~R1^HV_B64DATA~QUJD");
    EXPECT_EQ(last.Record.EmbeddedDocument, "QUJD");
    EXPECT_EQ(last["REQCODE"], "R1");

    TParsed first("HV_B64DATA~QUJD^HV_REQCODE~R1");  // the first field is an ordinary field
    EXPECT_EQ(first.Record.EmbeddedDocument, "");
    EXPECT_EQ(first["B64DATA"], "QUJD");
    EXPECT_EQ(first["REQCODE"], "R1");

    TParsed twice("HV_A~1^HV_B64DATA~QUJD^HV_B64DATA~QQ==^HV_C~3");
    EXPECT_EQ(twice.Record.EmbeddedDocument, "QUJD");
    EXPECT_EQ(twice["B64DATA"], "QQ==");
    EXPECT_EQ(twice["C"], "3");
}

TEST(ParseRequest, AudioDataIsCutOutWherever)
{
    const std::pair<const char*, std::vector<std::pair<const char*, const char*>>> cases[] = {
        {"HV_A~1^HV_AUDIODATA~xyz^HV_B~2", {{"A", "1"}, {"B", "2"}}},
        {"HV_AUDIODATA~xyz^HV_B~2", {{"B", "2"}}},
        {"HV_A~1^HV_AUDIODATA~xyz", {{"A", "1"}}},
        {"HV_A~see HV_AUDIODATA~z^HV_B~2", {{"A", "see "}, {"B", "2"}}},
    };
    for (const auto& [text, expected] : cases) {
        TParsed p(text);
        for (const auto& [name, value] : expected)
            EXPECT_EQ(p[name], value) << text << " / " << name;
        EXPECT_EQ(p["AUDIODATA"], "") << text;
    }
}

TEST(ParseRequest, ImageBoxFields)
{
    TParsed p("HV_IMAGEBOX~logo.bmp,10,20^HV_IMAGEBOX~^HV_X~kept^HV_IMAGEBOX~x.bmp,-5,abc,abc,50,300,,9");
    ASSERT_EQ(p.Record.Images.size(), 2u);
    const TImageRecord& a = p.Record.Images[0];
    EXPECT_EQ(a.FileName, "logo.bmp");
    EXPECT_EQ(a.PosX, 200);
    EXPECT_EQ(a.PosY, 400);
    EXPECT_EQ(a.ScaleX, 0);
    EXPECT_EQ(a.ScaleY, 0);
    EXPECT_EQ(a.TargetWidth, 0);
    EXPECT_EQ(a.LayoutCodeA, 0);
    EXPECT_EQ(a.LayoutCodeB, 3);
    EXPECT_EQ(a.Distance1 + a.Distance2 + a.Distance3 + a.Distance4, 80);
    EXPECT_TRUE(a.FromRequest);
    const TImageRecord& b = p.Record.Images[1];
    EXPECT_EQ(b.PosX, -100);
    EXPECT_EQ(b.PosY, 0);  // not an integer
    EXPECT_EQ(b.ScaleX, 100);
    EXPECT_EQ(b.ScaleY, 50);
    EXPECT_EQ(b.TargetWidth, 300);
    EXPECT_EQ(b.TargetHeight, 0);
    EXPECT_EQ(p["X"], "kept");
    EXPECT_EQ(p["IMAGEBOX"], "");

    TParsed again("HV_IMAGEBOX~a.bmp");  // every parse starts with no images
    EXPECT_EQ(again.Record.Images.size(), 1u);
    // Blanks are not trimmed: " 5" is still a number, "5 " is not.
    EXPECT_EQ(ImageBoxRecord("f, 5,5 , 7, 8 ").PosX, 100);
    EXPECT_EQ(ImageBoxRecord("f, 5,5 , 7, 8 ").PosY, 0);
    EXPECT_EQ(ImageBoxRecord("f, 5,5 , 7, 8 ").ScaleY, 100);
}

TEST(ParseRequest, DynamicRangeDrawsPerNonEmptyField)
{
    TParsed p("HV_DYNAMICRANGE~a.bmp,b.bmp,75,50^HV_DYNAMICRANGE~^HV_DYNAMICRANGE~c,d,1,2,x^HV_Z~1");
    EXPECT_EQ(p.Graphs, (std::vector<std::string> {"a.bmp,b.bmp,75,50", "c,d,1,2,x"}));
    EXPECT_EQ(p["DYNAMICRANGE"], "");
    EXPECT_EQ(p["Z"], "1");
}

TEST(ReportRecord, ResetFieldsClearsTheListedNamesOnly)
{
    TParsed p("HV_DEPARTMENT~X^HV_PAPERSIZE~a5^HV_TEMPLATE~LH^HV_RESULTTEXT~r^HV_B64DATA~x^HV_NOFOOTER~y^HV_IMAGEBOX~i");
    p.Record.ParseRequest("HV_A~1^HV_B64DATA~QUJD^HV_NOFOOTER~y^HV_IMAGEBOX~i");
    p.Record.ResetFields();
    EXPECT_EQ(p["DEPARTMENT"], "");
    EXPECT_EQ(p["PAPERSIZE"], "a5");  // outside the lists: kept
    EXPECT_EQ(p.Record.TemplateName, "");
    EXPECT_EQ(p.Record.ResultText, "");
    EXPECT_EQ(p.Record.EmbeddedDocument, "");
    EXPECT_FALSE(p.Record.NoFooter);
    EXPECT_TRUE(p.Record.Images.empty());
    EXPECT_EQ(p["PATGENDER"], std::string(1, '\0'));
    // Every ordinary name of the lists is present; the cut-out and special ones are not.
    for (const auto* list : {&TReportRecord::FirstFieldList(), &TReportRecord::SecondFieldList()})
        for (std::string_view name : *list) {
            const bool stored = !(name == "TEMPLATE" || name == "NOFOOTER" || name == "DYNAMICRANGE" ||
                                  name == "IMAGEBOX" || name == "AUDIODATA" || name == "B64DATA");
            EXPECT_EQ(p.Record.IndexOfName(name) >= 0, stored) << name;
        }
}

TEST(ReportRecord, TagsGiveNumberedKeysToNames)
{
    TParsed p("HV_PATSUR~SMITH^HV_DOCSUR~JONES",
              {"12|PATSUR|Patient surname", "nokey", "7|OLD", "7|DOCSUR", "8|DOCSUR", "9|"});
    EXPECT_EQ(p.Record.GetValueByKey("12"), "SMITH");
    EXPECT_EQ(p.Record.Values()[0].Key, "12");
    EXPECT_EQ(p.Record.Values()[0].Name, "PATSUR");
    const int whole = p.Record.IndexOfKey("nokey");
    ASSERT_GE(whole, 0);
    EXPECT_EQ(p.Record.Values()[static_cast<std::size_t>(whole)].Name, "");
    // Same key twice: one entry, named after the later line.
    EXPECT_EQ(p.Record.GetValueByKey("7"), "JONES");
    EXPECT_EQ(p.Record.IndexOfName("OLD"), -1);
    // Same name under another key: only the first entry is filled.
    EXPECT_EQ(p.Record.GetValueByKey("8"), "");
    EXPECT_EQ(p.Record.GetValueByKey("12 "), "");  // keys count exactly
    EXPECT_EQ(p.Record.GetValue("nothing"), "");
    EXPECT_EQ(p.Record.GetReqCode(), "");
}

TEST(ReportRecord, SetValueKeepsTheFirstStoredName)
{
    TReportRecord r;
    EXPECT_EQ(r.SetValue("ReqCode", "1"), 0);
    EXPECT_EQ(r.SetValue("REQCODE", "2"), 0);
    EXPECT_EQ(r.Values()[0].Name, "ReqCode");
    EXPECT_EQ(r.GetReqCode(), "2");
    EXPECT_EQ(r.SetValueByKey("k", "v"), 1);
    EXPECT_EQ(r.Values()[1].Name, "");
    EXPECT_EQ(r.SetValue("x\xE9", "accent"), 2);  // only a-z are case-folded
    EXPECT_EQ(r.GetValue("X\xE9"), "accent");
    EXPECT_EQ(r.GetValue("X\xC9"), "");
}

TEST(ReportRecord, JobSlotsFromValues)
{
    struct Case {
        const char* text;
        std::string output, prn;
        bool fax;
    };
    const Case cases[] = {
        {"HV_PDFDOC~Smith, J.pdf^HV_SAVEDOC~x", "pdf_Smith, J.pdf", "", false},
        {"HV_SAVEDOC~msword_C:\\a.doc^HV_PRNFILENAME~out", "msword_C:\\a.doc", "out.prn", false},
        {"HV_PRNFILENAME~OUT.PRN^HV_ISFAX~1", "", "OUT.PRN", true},
        {"HV_FaxNumber~555", "", "", true},
    };
    for (const Case& c : cases) {
        TParsed p(c.text);
        p.Record.FillJobSlots();
        EXPECT_EQ(p.Record.OutputDocument, c.output) << c.text;
        EXPECT_EQ(p.Record.PrnFileName, c.prn) << c.text;
        EXPECT_EQ(p.Record.IsFax, c.fax) << c.text;
    }
}

TEST(ParseRequest, SurvivesHostileInputInLinearTime)
{
    // Long runs that would make a copying or re-searching parse quadratic.
    const std::string manyFields = [] {
        std::string s;
        for (int i = 0; i < 200000; ++i)
            s += "^HV_F" + std::to_string(i) + "~v";
        return s;
    }();
    TParsed p(manyFields);
    EXPECT_EQ(p["F199999"], "v");
    EXPECT_EQ(p["F0"], "v");

    const std::string periodic = std::string(300000, 'a') + "HV_" + std::string(300000, 'a') + "~x";
    TParsed q(periodic);
    EXPECT_EQ(q[std::string(300000, 'a')], "x");

    TParsed r(std::string("HV_\0~\0^HV_^HV_~~~", 17));
    EXPECT_EQ(r.Record.Values().size(), TParsed("").Record.Values().size() + 1);
}
