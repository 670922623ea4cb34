// The demo requests composed through printorb-tool render, as a template
// author previews them, checked on the PDF's text.
#include "support/testsupport.h"
#include "util/fileutil.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

struct TRender {
    int Status = -1;
    std::string Out, Err, Text;
};

class TDemoHome {
public:
    TDemoHome()
    {
        QProcess prepare;
        prepare.start(QString::fromStdString(SourceDir() + "/scripts/prepare-demo-home.sh"),
                      {QString::fromStdString(Dir / "home")});
        prepare.waitForFinished(30000);
        Ready = prepare.exitCode() == 0;
    }
    std::string Home() const { return Dir / "home/"; }

    TRender Render(const std::string& request, const std::string& out)
    {
        TRender r;
        QProcess tool;
        // No print system: what would be printed is named without a printer.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("CUPS_SERVER", QString::fromStdString("127.0.0.1:" + std::to_string(ClosedPort())));
        tool.setProcessEnvironment(env);
        tool.start(QString::fromStdString(BinaryDir() + "/bin/printorb-tool"),
                   {"render", QString::fromStdString(request), QString::fromStdString(Dir / out), "--home",
                    QString::fromStdString(Home())});
        if (!tool.waitForFinished(60000))
            return r;
        r.Status = tool.exitCode();
        r.Out = tool.readAllStandardOutput().toStdString();
        r.Err = tool.readAllStandardError().toStdString();
        QProcess text;
        text.start("pdftotext", {"-raw", QString::fromStdString(Dir / out), "-"});  // in drawing order
        text.waitForFinished(30000);
        r.Text = QString::fromUtf8(text.readAllStandardOutput()).simplified().toStdString();
        return r;
    }

    TTempDir Dir;
    bool Ready = false;
};

bool Has(const std::string& text, const std::string& what)
{
    return text.find(what) != std::string::npos;
}

}  // namespace

TEST(RenderDemo, ValidatedTemplateReport)
{
    TDemoHome demo;
    ASSERT_TRUE(demo.Ready);
    const TRender r = demo.Render(demo.Home() + "requests/histo_validated.tvq", "histo.pdf");
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, demo.Home() + "results/citizen_ jane histology.pdf\n");
    for (const char* value : {"CITIZEN, JANE MARY", "Lab No 26-0001234", "Sex F", "MRS JANE MARY CITIZEN",
                              "UNIT 4/12 BAYVIEW PARADE PO BOX 77 PORTSMOUTH VIC 3999",
                              "Referring doctor: Dr GREGORY HOUSE, PRINCETON MEDICAL CENTRE",
                              "Collected 08/12/2026 Received 08/12/2026 Your ref GH-5521",
                              "..09/12/2026 Tests:HISTO,IMMUNO,SPECI Validated by DR J. PATHOLOGIST",
                              "Requested by Dr HOUSE (2345678A) - Page count: 1", "Eastside Pathology Laboratory - NATA accredited"})
        EXPECT_TRUE(Has(r.Text, value)) << value << "\n" << r.Text;
    EXPECT_FALSE(Has(r.Text, "<<")) << r.Text;
    EXPECT_FALSE(Has(r.Text, "INTERIM"));
    // The server's log lines for the request: without a print system no
    // printer is chosen, which a document only saved does not need.
    EXPECT_EQ(r.Err, "Printer 1 does not exist, using default (printer 1).\nNo default printer!\n");
}

TEST(RenderDemo, InterimReportWithCutsAndPlaceholders)
{
    TDemoHome demo;
    ASSERT_TRUE(demo.Ready);
    const TRender r = demo.Render(demo.Home() + "requests/fbe_interim.tvq", "fbe.pdf");
    ASSERT_EQ(r.Status, 0) << r.Err;
    // Printed, and with no print system to print on the server would wait.
    EXPECT_EQ(r.Out, "the print system does not answer (1 page): the server waits for it\n");
    for (const char* value : {"FULL BLOOD EXAMINATION", "Ward 4 WEST Collected 08/12/2026", "Comment: Comment",
                              "Reported by the haematology registrar.", "Approved by: Dr B. Haematologist",
                              "INTERIM REPORT"})
        EXPECT_TRUE(Has(r.Text, value)) << value << "\n" << r.Text;
    for (const char* gone : {"<<", "Worksheet FBE", "report starts below", "draft lines", "audit trail", "\u00A5"})
        EXPECT_FALSE(Has(r.Text, gone)) << gone << "\n" << r.Text;
}

TEST(RenderDemo, AddressWithoutASecondLine)
{
    TDemoHome demo;
    ASSERT_TRUE(demo.Ready);
    std::string request = ReadFile(demo.Home() + "requests/histo_validated.tvq");
    request = QString::fromStdString(request).remove("^HV_PATADD2~PO BOX 77").toStdString();
    WriteFile(demo.Dir / "no_second_line.tvq", request);
    const TRender r = demo.Render(demo.Dir / "no_second_line.tvq", "address.pdf");
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(Has(r.Text, "UNIT 4/12 BAYVIEW PARADE PORTSMOUTH VIC 3999 Referring doctor")) << r.Text;
}

TEST(RenderDemo, ResultTextLinesInOrder)
{
    TDemoHome demo;
    ASSERT_TRUE(demo.Ready);
    const TRender r = demo.Render(demo.Home() + "requests/result_text.tvq", "result.pdf");
    ASSERT_EQ(r.Status, 0) << r.Err;
    const char* lines[] = {"TOVA PrintORB Test Result", "This line is underlined", "This line is bold",
                           "This line is italics", "This line has small fonts", "This line has large font",
                           "T h i s l i n e is u s i n g d o u b l e s p a c e s", "End Test Result."};
    std::size_t at = 0;
    for (const char* line : lines) {
        const auto found = r.Text.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << "\n" << r.Text;
        at = found + 1;
    }
    EXPECT_TRUE(Has(r.Text, "Validated by VALIDATION PERSON"));
}

TEST(RenderDemo, ImagesAndDynamicRangeGraph)
{
    TDemoHome demo;
    ASSERT_TRUE(demo.Ready);
    const auto listing = [&] {
        QStringList files;
        QDirIterator it(QString::fromStdString(demo.Home()), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next() + " " + QString::number(QFileInfo(it.filePath()).size());
        files.sort();
        return files;
    };
    const QStringList before = listing();
    const TRender r = demo.Render(demo.Home() + "requests/images_graph.tvq", "images.pdf");
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, demo.Home() + "results/26-0001236.rtf\n");
    // A preview changes nothing in the home: the graph was drawn elsewhere.
    EXPECT_EQ(listing(), before);
    EXPECT_FALSE(FileExists(demo.Home() + "results/marker_graph.bmp"));
    QProcess images;
    images.start("pdfimages", {"-list", QString::fromStdString(demo.Dir / "images.pdf")});
    images.waitForFinished(30000);
    const QStringList rows = QString::fromUtf8(images.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    EXPECT_GE(rows.size() - 2, 3) << rows.join('\n').toStdString();  // logo, graph, signature
}

TEST(RenderDemo, UnprintableAndMissingSettingsAreRefused)
{
    TDemoHome demo;
    ASSERT_TRUE(demo.Ready);
    WriteFile(demo.Dir / "bad.tvq", "HV_TEMPLATE~Letterhead^HV_PATSUR~X");
    const TRender r = demo.Render(demo.Dir / "bad.tvq", "bad.pdf");
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(Has(r.Err, "Spooler file bad.tvq was unpritable because")) << r.Err;
    EXPECT_FALSE(FileExists(demo.Dir / "bad.pdf"));
    ASSERT_TRUE(DeleteFileAt(demo.Home() + "printserver.inf"));
    EXPECT_EQ(demo.Render(demo.Home() + "requests/fbe_interim.tvq", "x.pdf").Status, 1);
}

// A missing letterhead or template is a warning, as the server composes and
// prints such a request all the same; --strict fails on it, and on a tag
// that would print blank.
TEST(RenderDemo, MissingLetterheadOrTemplateWarnsAndStrictFails)
{
    TDemoHome demo;
    ASSERT_TRUE(demo.Ready);
    const std::string histo = ReadFile(demo.Home() + "requests/histo_validated.tvq");
    auto with = [&](const std::string& from, const std::string& to) {
        return QString::fromStdString(histo).replace(QString::fromStdString(from), QString::fromStdString(to)).toStdString();
    };
    WriteFile(demo.Dir / "no_letterhead.tvq", with("HV_TEMPLATE~Letterhead", "HV_TEMPLATE~Nothing"));
    WriteFile(demo.Dir / "no_template.tvq", with("HV_PROCCODE~HISTO", "HV_PROCCODE~NOPE"));
    WriteFile(demo.Home() + "templates/MISSPELT.tpl", "{\\rtf1 Dear <<PATSURR>>, <<3>>, <<CLINICAL>>\\par}");
    WriteFile(demo.Dir / "misspelt.tvq", with("HV_PROCCODE~HISTO", "HV_PROCCODE~MISSPELT"));
    const std::string noPrinter = "Printer 1 does not exist, using default (printer 1).\nNo default printer!\n";
    const struct {
        std::string request;
        bool strict;
        int status;
        std::string err;
    } cases[] = {
        {"no_letterhead.tvq", false, 0, noPrinter + "warning: Could not load a Letterhead for this template Nothing\n"},
        {"no_letterhead.tvq", true, 1,
         noPrinter + "warning: Could not load a Letterhead for this template Nothing\n"
                     "printorb-tool: the server would output this report with 1 warning(s)\n"},
        {"no_template.tvq", false, 0,
         noPrinter + "warning: No template exists for NOPE in a Letterhead print request.\n"},
        {"misspelt.tvq", false, 0, noPrinter},
        // CLINICAL is no tags.txt name, but the request carries it.
        {"misspelt.tvq", true, 1,
         "printorb-tool: <<PATSURR>> in " + demo.Home() + "templates/MISSPELT.tpl has no value: neither " + demo.Home() +
             "tags.txt nor the request names it\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request + (c.strict ? " --strict" : ""));
        DeleteFileAt(demo.Dir / "out.pdf");
        std::vector<std::string> args = {"render", demo.Dir / c.request, demo.Dir / "out.pdf", "--home", demo.Home()};
        if (c.strict)
            args.push_back("--strict");
        const TProgramRun run = RunProgram("printorb-tool", args);
        EXPECT_EQ(run.Status, c.status);
        EXPECT_EQ(run.Err, c.err);
        EXPECT_EQ(FileExists(demo.Dir / "out.pdf"), c.status == 0);
    }
    EXPECT_EQ(RunProgram("printorb-tool", {"render", demo.Dir / "misspelt.tvq", demo.Dir / "none/out.pdf", "--home",
                                           demo.Home()})
                  .Status,
              1);
}

TEST(ToolTags, ListsATemplatesTagsAndMarksThoseTheTagFileDoesNotKnow)
{
    TDemoHome demo;
    ASSERT_TRUE(demo.Ready);
    WriteFile(demo.Home() + "templates/MISSPELT.tpl", "{\\rtf1 Dear <<PATSURR>>, <<3>> <<UNote>> <<99>>\\par}");
    const TProgramRun run = RunProgram("printorb-tool", {"tags", "MISSPELT", "--home", demo.Home()});
    EXPECT_EQ(run.Status, 0) << run.Err;
    const std::string expectedTemplate = "template " + demo.Home() + "templates/MISSPELT.tpl\n"
                                         "  <<PATSURR>>   not in tags.txt\n  <<3>>\n  <<UNote>>\n"
                                         "  <<99>>   not in tags.txt\n";
    EXPECT_EQ(run.Out.rfind("letterhead " + demo.Home() + "templates/Letterhead.doc\n  <<PATSUR>>\n", 0), 0u) << run.Out;
    EXPECT_EQ(run.Out.substr(run.Out.size() - std::min(run.Out.size(), expectedTemplate.size())), expectedTemplate);
    EXPECT_NE(run.Out.find("  <<DOCPROVIDER>>   not in tags.txt\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Err.find("3 tag(s) not in " + demo.Home() + "tags.txt"), std::string::npos) << run.Err;

    EXPECT_EQ(RunProgram("printorb-tool", {"tags", "MISSPELT", "--home", demo.Home(), "--strict"}).Status, 1);
    const TProgramRun other = RunProgram("printorb-tool", {"tags", demo.Home() + "templates/MISSPELT.tpl", "--letterhead",
                                                           "Gone", "--home", demo.Home()});
    EXPECT_EQ(other.Status, 1);
    EXPECT_EQ(other.Err, "printorb-tool: the letterhead " + demo.Home() + "templates/Gone.doc does not exist\n");
    EXPECT_EQ(RunProgram("printorb-tool", {"tags"}).Status, 2);
}
