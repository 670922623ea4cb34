// The Testing page's logic on a started server: the boxes filled from the
// templates folder, the printer table and the driver data; the test files
// written byte for byte; every question and message on the way.
#include "app/serverfixture.h"
#include "support/regfiles.h"
#include "testprint/testprint.h"
#include "util/textutil.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

// The sample request as the operator's test sends it, written out in full.
std::string Expected(const std::string& letterhead, const std::string& procedure, const std::string& number,
                     const std::string& printer, const std::string& validation, const std::string& overlay,
                     const std::string& tray)
{
    return "HV_TEMPLATE~" + letterhead + "^HV_REQCODE~" + number + "^HV_PROCCODE~" + procedure +
           "^HV_PATCODE~P0001^HV_PATSUR~XXXXXXXXXXXXXXXXXXX^HV_PATGIVEN~XXXXXXXXXXXXXXXX^HV_PATTITLE~MRS"
           "^HV_PATADD1~UNIT XX/XX XXXXXXXX ST^HV_PATADD2~(PO BOX XXXXX)^HV_PATADD3~PATIENTVILLE VIC^HV_PATPC~99999"
           "^HV_PATAGE~99.9^HV_PATDOB~01 JAN 1901^HV_PATGENDER~F^HV_TERM~XX^HV_DOCCODE~B9999"
           "^HV_DOCSUR~XXXXXXXXXXXXXXXXXXX^HV_DOCGIVEN~XXXXXXXXXXXXXXXX^HV_DOCTITLE~DR^HV_DOCADD1~BLOGGS ROAD CLINIC"
           "^HV_DOCADD2~999 BLOGGS ROAD^HV_DOCADD3~YYYYYYYYYYYYY^HV_DOCPC~9999 ^HV_DOCPROVIDER~9999999X"
           "^HV_DOCPHONE~99999999^HV_WARD~UUUUUU^HV_WARDHIGHLIGHT~XXXXX^HV_YOURREF~XYZ123^HV_SERVICEDATE~01 Jan 2001"
           "^HV_PRINTER~" + printer + "^HV_PMASK~" + overlay + "^HV_PAPERTRAY~" + tray +
           "^HV_OTHERTESTS~ABCD,EFGH,HIJK^HV_VALIDATED~" + validation + "^HV_REPORTFLAG~..^HV_SERVICEDATE~01/01/2001";
}

const std::string kTail =
    "^HV_TEXTFONT~Courier New^HV_TEXTSIZE~10^HV_RESULTTEXT~]]]{TOVA _PrintORB_ Test Result{[[[~~~This _line is "
    "underlined_~This {line is bold{~This |line is italics|~This [[line has small fonts]]~This ]]]]]line has large "
    "font[[[[[~T h i s  l i n e  is  u s i n g  d o u b l e  s p a c e s~~End Test Result. ";

struct TTestingHome : TTestHome {
    explicit TTestingHome(const std::string& printers = "PRINTER12=Laser\r\nPRINTER3=Lexmark-A\r\nPRINTER4=HP-Laser\r\n")
    {
        WriteFile(Dir / "printerdriverdata.reg",
                  "REGEDIT4\r\n\r\n" + PrinterKey("Lexmark-A") + "\"MANUFACTURER\"=\"Lexmark\"\r\n\"Macro\"=hex:" +
                      RegHex(MacroRecords({{3, "Invoice form"}, {5, "PATHFORM"}})) + "\r\n\r\n" +
                      PrinterKey("HP-Laser") + "\"HPDUMMY\"=\"\"\r\n");
        WriteSettings(Critical() + printers);
        Server = MakeServer({"Laser", "Lexmark-A", "HP-Laser"});
        Started = Server->StartUp();
        Test = std::make_unique<TTestPrint>(TTestPrint::TContext {
            Server->Pipeline(), Server->Config(), Server->Printers(), [this]() -> TPrompts& { return Prompts; },
            Server->Log()});
    }
    void Template(const std::string& name) { WriteFile(Dir / ("templates/" + name), "{\\rtf1 x\\par}"); }
    std::string Spooled(const std::string& name) const
    {
        const std::string path = Dir / ("spool/" + name);
        return QFile::exists(QString::fromStdString(path)) ? ReadFile(path) : "(none)";
    }
    // A test with every box filled, as an operator would.
    void Fill(const std::string& printerEntry = "12 - Laser")
    {
        Test->testingtabEnter();
        Test->LetterheadText = "LH";
        Test->ProcedureText = "P1";
        Test->PrinterNumberText = printerEntry;
        Test->PrinterNumberExit();
    }

    std::unique_ptr<TPrintServer> Server;
    bool Started = false;
    std::unique_ptr<TTestPrint> Test;
};

}  // namespace

TEST(TestPrint, TheSampleRequestIsTheLaboratorysLine)
{
    EXPECT_EQ(SampleRequest("LH", "P1", "00000001", "12", "", "3", "Tray 2"),
              Expected("LH", "P1", "00000001", "12", "", "3", "Tray 2"));
    EXPECT_EQ(kResultTextTail, kTail);
}

TEST(TestPrint, EnteringThePageFillsTheNameListsAndPrinterNumbers)
{
    TTestingHome home;
    ASSERT_TRUE(home.Started);
    home.Template("LH.doc");
    home.Test->testingtabEnter();
    EXPECT_TRUE(home.Test->Letterheads.empty()) << "no template: no names at all";
    EXPECT_TRUE(home.Test->Procedures.empty());
    EXPECT_EQ(home.Test->PrinterNumbers, (std::vector<std::string> {"12 - Laser", "3 - Lexmark-A", "4 - HP-Laser"}));

    home.Template("Report.tpl");
    home.Template("Blood.TPL");
    home.Template("Other.doc");
    home.Test->testingtabEnter();  // the printers did not change: nothing reloads
    EXPECT_TRUE(home.Test->Procedures.empty());
    home.Server->Printers().AddLine("7=Laser");
    home.Test->testingtabEnter();
    EXPECT_EQ(home.Test->Procedures, (std::vector<std::string> {"Blood", "Report"}));
    EXPECT_EQ(home.Test->Letterheads, (std::vector<std::string> {"LH", "Other"}));

    // Leaving the boxes tidies typed names.
    const struct {
        std::string typed;
        std::string letterhead;
        std::string procedure;
    } cases[] = {{" Report.tpl ", "Report.tpl", "Report"}, {"LH.DOC", "LH", "LH.DOC"}, {"a.b", "a.b", "a.b"}};
    for (const auto& c : cases) {
        home.Test->LetterheadText = c.typed;
        home.Test->ProcedureText = c.typed;
        home.Test->TestLhEditExit();
        home.Test->TestProcEditExit();
        EXPECT_EQ(home.Test->LetterheadText, c.letterhead) << c.typed;
        EXPECT_EQ(home.Test->ProcedureText, c.procedure) << c.typed;
    }
}

TEST(TestPrint, ThePrinterNumberBringsItsOverlays)
{
    TTestingHome home;
    ASSERT_TRUE(home.Started);
    const struct {
        const char* entry;
        std::vector<std::string> overlays;
        bool editable;
        bool dimmed;
    } cases[] = {
        {"3 - Lexmark-A", {"3 Invoice form", "5 PATHFORM"}, false, false},
        {"4 - HP-Laser", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "100", "200", "1000", "2000", "5000"}, true,
         false},
        {"12 - Laser", {}, false, true},  // no driver data: the lookup's error
    };
    for (const auto& c : cases) {
        home.Test->PrinterNumberText = c.entry;
        home.Test->PrinterNumberExit();
        EXPECT_EQ(home.Test->Overlays, c.overlays) << c.entry;
        EXPECT_EQ(home.Test->OverlayEditable, c.editable) << c.entry;
        EXPECT_EQ(home.Test->OverlayLabelDimmed, c.dimmed) << c.entry;
    }

    // While a job runs the box changes nothing.
    home.Server->Pipeline().HoldSpool();
    home.Test->PrinterNumberText = "3 - Lexmark-A";
    home.Test->PrinterNumberExit();
    EXPECT_TRUE(home.Test->Overlays.empty());
    home.Server->Pipeline().ReleaseSpool();

    // An overlay chosen for one printer does not stay in the box for another;
    // leaving the box on the same printer keeps it.
    const struct {
        const char* from;
        const char* typed;
        const char* to;
        const char* kept;
    } switches[] = {{"4 - HP-Laser", "42", "4 - HP-Laser", "42"},
                    {"4 - HP-Laser", "42", "3 - Lexmark-A", ""},
                    {"3 - Lexmark-A", "5 PATHFORM", "4 - HP-Laser", ""},
                    {"3 - Lexmark-A", "5 PATHFORM", "3 - Lexmark-A", "5 PATHFORM"}};
    for (const auto& c : switches) {
        home.Test->PrinterNumberText = c.from;
        home.Test->PrinterNumberExit();
        home.Test->OverlayText = c.typed;
        home.Test->PrinterNumberText = c.to;
        home.Test->PrinterNumberExit();
        EXPECT_EQ(home.Test->OverlayText, c.kept) << c.from << " -> " << c.to;
    }
}

TEST(TestPrint, TheTestWritesBothRequestsByteForByte)
{
    TTestingHome home;
    ASSERT_TRUE(home.Started);
    home.Template("LH.doc");
    home.Template("P1.tpl");
    const struct {
        const char* what;
        const char* printer;
        const char* overlayTyped;
        bool validated;
        const char* overlay;
        const char* validation;
    } cases[] = {
        {"Lexmark list entry", "3 - Lexmark-A", "3 Invoice form", false, "3", ""},
        {"HP number typed", "4 - HP-Laser", "42", true, "42", "VALIDATION PERSON"},
        {"no overlay", "12 - Laser", "", false, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        home.Fill(c.printer);
        home.Test->OverlayText = c.overlayTyped;
        home.Test->TrayText = " Tray 2 ";
        home.Test->Validated = c.validated;
        home.Test->TestPrintClick();
        const std::string number = TextBefore(c.printer, " ");
        EXPECT_EQ(home.Spooled("test_spoolerfile1.tvq"),
                  Expected("LH", "P1", "00000001", number, c.validation, c.overlay, "Tray 2") + "\r\n");
        EXPECT_EQ(home.Spooled("test_spoolerfile2.tvq"),
                  Expected("LH", "P1", "00000000", number, c.validation, c.overlay, "Tray 2") + kTail + "\r\n");
        EXPECT_TRUE(home.Test->InfoVisible);
        EXPECT_EQ(home.Test->InfoText, "Test spooler files submitted.\r\n#00000000 is a Result\r\n#00000001 is the "
                                       "template\r\nWatch the log for further information.");
        EXPECT_TRUE(home.Prompts.Messages.empty());
    }
    // Any change on the page takes the information away.
    home.Test->TestlhEditChange();
    EXPECT_FALSE(home.Test->InfoVisible);
    EXPECT_EQ(home.Test->InfoText, "");
}

TEST(TestPrint, MissingInputsLetterheadsAndTemplates)
{
    TTestingHome home;
    ASSERT_TRUE(home.Started);
    home.Template("Default.doc");
    home.Template("P1.tpl");
    home.Server->Page().DefaultLetterhead = "Default";
    home.Server->UpdateButtonClick();

    // Empty boxes move the focus and write nothing.
    const struct {
        const char* letterhead;
        const char* procedure;
        const char* printer;
        TTestPrint::TField focus;
    } empties[] = {{" ", "P1", "12 - Laser", TTestPrint::TField::Letterhead},
                   {"LH", "", "12 - Laser", TTestPrint::TField::Procedure},
                   {"LH", "P1", "", TTestPrint::TField::PrinterNumber}};
    for (const auto& c : empties) {
        home.Test->LetterheadText = c.letterhead;
        home.Test->ProcedureText = c.procedure;
        home.Test->PrinterNumberText = c.printer;
        home.Test->TestPrintClick();
        EXPECT_EQ(home.Test->Focus, c.focus);
    }
    EXPECT_EQ(home.Spooled("test_spoolerfile2.tvq"), "(none)");

    // A missing letterhead: No keeps the operator on the box.
    home.Fill();
    home.Test->TestPrintClick();
    ASSERT_EQ(home.Prompts.Questions.size(), 1u);
    EXPECT_EQ(home.Prompts.Questions[0].Caption, "Testing Settings");
    EXPECT_EQ(home.Prompts.Questions[0].Text,
              "The Letterhead LH does not exist\r\nIf you proceed, The test will attempt to use the  default "
              "letterhead.\r\nDo you want to continue?");
    EXPECT_EQ(home.Test->Focus, TTestPrint::TField::Letterhead);
    EXPECT_EQ(home.Spooled("test_spoolerfile2.tvq"), "(none)");

    // Yes: the default letterhead goes into both requests.
    home.Prompts.Answers = {true};
    home.Test->TestPrintClick();
    EXPECT_EQ(home.Spooled("test_spoolerfile1.tvq"), Expected("Default", "P1", "00000001", "12", "", "", "") + "\r\n");

    // Yes, but no default letterhead either.
    home.Server->Page().DefaultLetterhead = "Gone";
    home.Server->UpdateButtonClick();
    home.Prompts.Answers = {true};
    QFile::remove(QString::fromStdString(home.Dir / "spool/test_spoolerfile1.tvq"));
    home.Test->TestPrintClick();
    ASSERT_EQ(home.Prompts.Messages.size(), 1u);
    EXPECT_EQ(home.Prompts.Messages[0].Text, "Test failed : no Test or default Letterhead defined");
    EXPECT_EQ(home.Spooled("test_spoolerfile1.tvq"), "(none)");

    // A missing template: only the result test, with a warning first.
    home.Prompts.Messages.clear();
    home.Template("LH.doc");
    home.Test->ProcedureText = "Nothing";
    home.Test->TestPrintClick();
    ASSERT_EQ(home.Prompts.Messages.size(), 1u);
    EXPECT_EQ(home.Prompts.Messages[0].Text, "Warning!!! No template exists for Nothing\r\n");
    EXPECT_EQ(home.Spooled("test_spoolerfile1.tvq"), "(none)");
    EXPECT_EQ(home.Spooled("test_spoolerfile2.tvq"),
              Expected("LH", "Nothing", "00000000", "12", "", "", "") + kTail + "\r\n");
    EXPECT_EQ(home.Test->InfoText,
              "Test spooler file submitted.\r\n#00000000 is a Result\r\nWatch the log for further information.");
}

TEST(TestPrint, AFileThatCannotBeWrittenIsReportedAndNothingAnnounced)
{
    TTestingHome home;
    ASSERT_TRUE(home.Started);
    home.Template("LH.doc");
    home.Template("P1.tpl");
    // A folder where the result test file should go: it cannot be replaced.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(home.Dir / "spool/test_spoolerfile2.tvq")));
    home.Fill();
    home.Test->TestPrintClick();
    ASSERT_EQ(home.Prompts.Messages.size(), 1u);
    const std::string& text = home.Prompts.Messages[0].Text;
    EXPECT_EQ(text.rfind("The test spool file could not be saved to the spooler file.\r\nThe error was " +
                             (home.Dir / "spool/test_spoolerfile2.tvq: "),
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("\r\nIf this problem relates to file permissions then you must \r\ncorrect this problem before "
                        "proceeding.\r\nThis Print server MUST have read and write privledges  to work properly.\r\n"),
              std::string::npos)
        << text;
    EXPECT_FALSE(home.Test->InfoVisible);
}
