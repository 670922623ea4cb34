#include "spool/reportjob.h"

#include "request/base64.h"
#include "request/tagfile.h"
#include "support/smallfs.h"
#include "support/testsupport.h"
#include "util/fileutil.h"
#include "support/recordinglog.h"

#include <QDir>
#include <QImage>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// A server home with a letterhead and templates written here.
struct TJobHome {
    TTempDir Dir;
    DocumentEngine Engine;
    TReportRecord Record;
    std::vector<std::string> Tags {"3|PATSUR"};
    TRecordingLog Log;
    TJobPageSetup Setup;
    TImageComponent Probe;
    std::string ResultsDir = Dir / "results/";
    TProtectedPlaces Places;

    TJobHome()
    {
        Record.DrawDynamicRange = nullptr;
        EXPECT_TRUE(ForceDir(Dir / "templates"));
        EXPECT_TRUE(ForceDir(Dir / "results"));
        WriteFile(Dir / "templates/LH.doc",
                  "{\\rtf1{\\header Lab <<PATSUR>>\\par}{\\footer Footer line\\par}\\paperw12240\\paperh15840"
                  "\\margl1000\\margr1100\\margt1200\\margb1300 letterhead body\\par}");
        WriteFile(Dir / "templates/P1.tpl", "{\\rtf1 Template <<PATSUR>> \\'a5one \\'a5two\\par}");
    }
    TComposeResult Compose(const std::string& request, const std::string& name = "123.tvq",
                           const std::string& margins = "")
    {
        Record.LoadTags(Tags);
        Record.ResetFields();
        ParseIntoRecord(Record, request);
        TJobContext job {Engine, Record, Tags, Log, Setup, Dir / "templates/", ResultsDir, margins, Probe};
        job.ProtectedPlaces = Places;
        StartReport(Engine, margins);
        return ComposeReport(job, name);
    }
    QString Part(int part)
    {
        Engine.ActivatePart(part);
        const QString text = Engine.Text();
        Engine.ActivatePart(DocumentEngine::MainPart);
        return text;
    }
};

const std::string kBase = "HV_TEMPLATE~LH^HV_REQCODE~R1^HV_PROCCODE~P1^HV_PRINTER~3^HV_PATSUR~SMITH^HV_VALIDATED~DR X";

}  // namespace

TEST(ReportJob, ResetPageSetupTakesTheMarginSetting)
{
    const struct {
        const char* setting;
        int l, r, t, b;
    } cases[] = {{"", 283, 283, 453, 283}, {"10, 10 ,x", 566, 566, 453, 283}, {"5,5,8,5", 283, 283, 453, 283},
                 {"20,15,12,10", 1133, 850, 680, 566}};
    for (const auto& c : cases) {
        DocumentEngine e;
        ResetPageSetup(e, c.setting);
        EXPECT_EQ(e.PageWidth(), 11895) << c.setting;
        EXPECT_EQ(e.PageHeight(), 16830) << c.setting;
        EXPECT_EQ(e.PageMarginL(), c.l) << c.setting;
        EXPECT_EQ(e.PageMarginR(), c.r) << c.setting;
        EXPECT_EQ(e.PageMarginT(), c.t) << c.setting;
        EXPECT_EQ(e.PageMarginB(), c.b) << c.setting;
        EXPECT_EQ(e.HeaderFooter(), 5);
        EXPECT_TRUE(e.FormatSelection());
    }
}

TEST(ReportJob, TemplateReportWithLetterhead)
{
    TJobHome home;
    const TComposeResult result = home.Compose(kBase);
    ASSERT_EQ(result.Exit, TComposeExit::Completed);
    EXPECT_EQ(OutputFileNameFor(home.Record, "LPR/", "123.tvq"), "");  // a printed copy
    EXPECT_EQ(result.CurrentDocPath, home.Dir / "templates/P1.tpl");
    EXPECT_TRUE(FileExists(home.Dir / "templates/P1.tpl"));  // templates are kept
    EXPECT_EQ(home.Engine.Text(), QString::fromUtf8("Template SMITH one \u00A5two"));  // only the first marker goes
    EXPECT_EQ(home.Part(DocumentEngine::HeaderPart), "Lab SMITH");
    EXPECT_TRUE(home.Part(DocumentEngine::FooterPart).startsWith("           Tests: Validated by DR XFooter line"));
    EXPECT_EQ(home.Engine.PageWidth(), 12240);
    EXPECT_EQ(home.Engine.PageMarginT(), 1200);
    EXPECT_EQ(home.Setup.PagePaperSize, kPaperLetter);
    EXPECT_TRUE(home.Log.Lines.empty()) << home.Log.Lines.front();
}

TEST(ReportJob, MissingLetterheadAndTemplateStillGiveAReport)
{
    TJobHome home;
    const TComposeResult result =
        home.Compose("HV_TEMPLATE~NOPE^HV_REQCODE~R1^HV_PROCCODE~P9^HV_VALIDATED~", "123.tvq", "10, 10 ,x");
    ASSERT_EQ(result.Exit, TComposeExit::Completed);
    EXPECT_TRUE(home.Log.Has("Could not load a Letterhead for this template NOPE"));
    EXPECT_TRUE(home.Log.Has("No template exists for P9 in a Letterhead print request."));
    EXPECT_EQ(home.Engine.PageWidth(), 11895);
    EXPECT_EQ(home.Engine.PageMarginL(), 566);
    EXPECT_EQ(home.Part(DocumentEngine::FooterPart), "          INTERIM REPORT");
}

TEST(ReportJob, EmbeddedDocumentIsDecodedLoadedAndDeleted)
{
    TJobHome home;
    const std::string rtf = "{\\rtf1 Embedded <<PATSUR>>\\par}";
    const std::string b64 = QByteArray::fromStdString(rtf).toBase64().toStdString();
    const TComposeResult result = home.Compose(kBase + "^HV_B64DATA~" + b64);
    ASSERT_EQ(result.Exit, TComposeExit::Completed);
    EXPECT_EQ(result.CurrentDocPath, home.Dir / "results/R1_P1.doc");
    EXPECT_FALSE(FileExists(home.Dir / "results/R1_P1.doc"));
    EXPECT_EQ(home.Engine.Text(), "Embedded SMITH");

    TJobHome broken;  // the results folder is not there
    ::rmdir((broken.Dir / "results").c_str());
    const TComposeResult failed = broken.Compose(kBase + "^HV_B64DATA~" + b64);
    EXPECT_EQ(failed.Exit, TComposeExit::EmbeddedNotWritten);
    EXPECT_TRUE(broken.Log.Has("The File Encoded Halvorin data in file 123.tvq could not be created locally."));

    TJobHome notRtf;  // decoded, but a binary Word file
    const std::string doc = QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + QByteArray(64, '\0')).toBase64().toStdString();
    const TComposeResult refused = notRtf.Compose(kBase + "^HV_B64DATA~" + doc);
    EXPECT_EQ(refused.Exit, TComposeExit::DocumentNotLoaded);
    ASSERT_FALSE(notRtf.Log.Lines.empty());
    EXPECT_EQ(notRtf.Log.Lines.back().rfind(" Error loading " + (notRtf.Dir / "results/R1_P1.doc") + " with ", 0), 0u);
}

// The document a request carries goes whole into the results folder, or
// not at all: a full folder is an outage that says where, and the report
// waits; with room again it is decoded, loaded and deleted.
TEST(ReportJob, AnEmbeddedDocumentIntoAFullFolderIsAnOutage)
{
    PRINTORB_IN_SMALL_FILE_SYSTEMS();
    TSmallFileSystem disk;
    ASSERT_TRUE(disk.Mounted());
    TJobHome home;
    home.ResultsDir = disk.Path();
    const std::string rtf = "{\\rtf1 Embedded <<PATSUR>>\\par}";
    const std::string b64 = QByteArray::fromStdString(rtf).toBase64().toStdString();
    ASSERT_TRUE(disk.Fill());
    const TComposeResult full = home.Compose(kBase + "^HV_B64DATA~" + b64);
    EXPECT_EQ(full.Exit, TComposeExit::EmbeddedNotWritten);
    EXPECT_EQ(full.Cause.Kind, TFailureKind::Outage);
    const std::string line = "The File Encoded Halvorin data in file 123.tvq could not be created locally.";
    const std::string why = (disk / "R1_P1.doc") + ": no space left in " + disk.Path();
    EXPECT_EQ(full.Failure, line);
    EXPECT_EQ(full.Cause.Reason, line + " " + why);
    EXPECT_EQ(home.Log.Lines, (std::vector<std::string> {line, why}));
    EXPECT_TRUE(disk.Names().empty());

    disk.MakeRoom();
    const TComposeResult composed = home.Compose(kBase + "^HV_B64DATA~" + b64);
    ASSERT_EQ(composed.Exit, TComposeExit::Completed);
    EXPECT_EQ(home.Engine.Text(), "Embedded SMITH");
    EXPECT_TRUE(disk.Names().empty());  // loaded, then deleted
}

// A results folder that leads into the spool folder: the carried document
// is refused there (final), and nothing is written into it.
TEST(ReportJob, AnEmbeddedDocumentIsNeverWrittenIntoTheServersFolders)
{
    TJobHome home;
    ASSERT_TRUE(ForceDir(home.Dir / "spool"));
    home.Places.AddFolder("the spool folder", home.Dir / "spool/");
    ASSERT_EQ(::symlink((home.Dir / "spool").c_str(), (home.Dir / "linked").c_str()), 0);
    home.ResultsDir = home.Dir / "linked/";
    const std::string b64 = QByteArray("{\\rtf1 Embedded\\par}").toBase64().toStdString();
    const TComposeResult refused = home.Compose(kBase + "^HV_B64DATA~" + b64);
    EXPECT_EQ(refused.Exit, TComposeExit::EmbeddedNotWritten);
    EXPECT_EQ(refused.Cause.Kind, TFailureKind::Final);
    EXPECT_EQ(home.Log.Lines,
              (std::vector<std::string> {"The File Encoded Halvorin data in file 123.tvq could not be created locally.",
                                         (home.Dir / "linked/R1_P1.doc") + ": it lies in the spool folder " +
                                             (home.Dir / "spool/")}));
    EXPECT_TRUE(QDir(QString::fromStdString(home.Dir / "spool")).isEmpty());
}

TEST(ReportJob, OutputNames)
{
    const struct {
        const char* fields;
        const char* expected;
    } cases[] = {
        {"^HV_PDFDOC~Smith, J.pdf", "pdf_smith_ j.pdf"},
        {"^HV_PDFDOC~C:\\out\\A.pdf", "pdf_C%3A\\out\\A.pdf"},
        {"^HV_PDFDOC~/srv/Reports/Smith, J.pdf", "pdf_/srv/Reports/smith_ j.pdf"},  // folders keep their case
        {"^HV_PDFDOC~Reports/Smith, J/A.pdf", "pdf_Reports/Smith_ J/a.pdf"},
        {"^HV_SAVEDOC~msword_/srv/out/R1.doc", "msword_/srv/out/R1.doc"},
        {"^HV_PMASK~OV", "LPR/OV_3_123.tvq.prn"},
        {"^HV_PMASK~OV^HV_PRINTER~ 4 ", "LPR/OV_4_123.tvq.prn"},
        // An overlay without PMASK still gets a name its page files can be delivered under.
        {"^HV_PRNFILENAME~FORM1", "LPR/_3_123.tvq.prn"},
        {"^HV_PMASK2~8", "LPR/_3_123.tvq.prn"},
        {"^HV_PRNOTHERFILENAME~FORM2.prn", "LPR/_3_123.tvq.prn"},
        {"", ""},
    };
    for (const auto& c : cases) {
        TReportRecord r;
        r.DrawDynamicRange = nullptr;
        r.ResetFields();
        r.ParseRequest(kBase + c.fields);
        r.FillJobSlots();
        EXPECT_EQ(OutputFileNameFor(r, "LPR/", "123.tvq"), c.expected) << c.fields;
    }
}

TEST(ReportJob, ImagesAreSizedAndPlacedOrReported)
{
    TJobHome home;
    QImage image(600, 200, QImage::Format_RGB32);
    image.fill(Qt::green);
    image.save(QString::fromStdString(home.Dir / "x.png"));
    const std::string request = kBase + "^HV_IMAGEBOX~" + (home.Dir / "x.png") + ",0,0,,,300,50" + "^HV_IMAGEBOX~" +
                                (home.Dir / "missing.png") + ",1,1";
    ASSERT_EQ(home.Compose(request).Exit, TComposeExit::Completed);
    ASSERT_EQ(home.Engine.Images().size(), 1u);
    EXPECT_EQ(home.Engine.Images()[0].ScaleX, 50);
    EXPECT_EQ(home.Engine.Images()[0].ScaleY, 25);
    EXPECT_TRUE(home.Log.Has("The image " + (home.Dir / "missing.png") + " was not present for Document R1 P1"));

    TJobHome junk;
    WriteFile(junk.Dir / "junk.png", "not an image");
    junk.Compose(kBase + "^HV_IMAGEBOX~" + (junk.Dir / "junk.png") + ",0,0,,,300");
    EXPECT_TRUE(junk.Log.Has("The image " + (junk.Dir / "junk.png") + " is missing for Document R1 P1"));
    EXPECT_TRUE(junk.Log.Has("The image " + (junk.Dir / "junk.png") + " Failed to load for Document R1 P1"));
}

TEST(ReportJob, AnImageThatFailsDoesNotKeepTheOthersOut)
{
    TJobHome home;
    for (const char* name : {"a.png", "b.png", "c.png"}) {
        QImage image(40, 40, QImage::Format_RGB32);
        image.fill(Qt::red);
        image.save(QString::fromStdString(home.Dir / name));
    }
    // The engine raises while the first image goes in (its window went, say).
    bool raised = false;
    home.Engine.OnChanged = [&] {
        if (!raised && home.Engine.Images().size() == 1) {
            raised = true;
            throw std::runtime_error("the view could not be updated");
        }
    };
    const std::string request = kBase + "^HV_IMAGEBOX~" + (home.Dir / "a.png") + ",0,0" + "^HV_IMAGEBOX~" +
                                (home.Dir / "b.png") + ",10,10" + "^HV_IMAGEBOX~" + (home.Dir / "c.png") + ",20,20";
    ASSERT_EQ(home.Compose(request).Exit, TComposeExit::Completed);
    EXPECT_TRUE(raised);
    EXPECT_TRUE(home.Log.Has("the view could not be updated"));
    EXPECT_EQ(home.Engine.Images().size(), 3u) << "the images after the failing one are placed";
}

TEST(ReportJob, ResultTextTakesThePlaceOfTheTemplate)
{
    TJobHome home;
    const TComposeResult result = home.Compose(kBase + "^HV_TEXTSIZE~12^HV_RESULTTEXT~Line one~{Bold{ line");
    ASSERT_EQ(result.Exit, TComposeExit::Completed);
    EXPECT_EQ(home.Engine.Text(), "Line one\nBold line");
    EXPECT_EQ(result.CurrentDocPath, "");
}
