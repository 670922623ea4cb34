// printorb-tool parse, run as the IT staff would run it.
#include "support/testsupport.h"
#include "util/fileutil.h"

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

struct TRun {
    int Status = -1;
    QByteArray Out;
    QByteArray Err;
};

TRun RunTool(const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QString::fromStdString(BinaryDir() + "/bin/printorb-tool"), args);
    TRun run;
    if (!process.waitForFinished(30000))
        return run;
    run.Status = process.exitCode();
    run.Out = process.readAllStandardOutput();
    run.Err = process.readAllStandardError();
    return run;
}

}  // namespace

TEST(ToolParse, PrintsTheRecordAsJson)
{
    TTempDir dir;
    WriteFile(dir / "r.tvq", "HV_TEMPLATE~LH1^HV_REQCODE~R1^HV_PROCCODE~P1^HV_PATSUR~M\xDCLLER^HV_PATGENDER~\r\n"
                             "^HV_IMAGEBOX~logo.bmp,10,20^HV_IMAGEBOX~b.png,1,2,3,4,5,6^HV_B64DATA~QUJD^HV_PRINTER~3\r\n");
    WriteFile(dir / "tags.txt", "12|PATSUR|Patient surname\r\n");
    const TRun run = RunTool({"parse", QString::fromStdString(dir / "r.tvq"), "--tags", QString::fromStdString(dir / "tags.txt")});
    ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
    QJsonParseError error;
    const QJsonObject json = QJsonDocument::fromJson(run.Out, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << run.Out.toStdString();
    EXPECT_EQ(json["TemplateName"].toString(), "LH1");
    EXPECT_EQ(json["EmbeddedDocument"].toString(), "QUJD");
    EXPECT_EQ(json["PrinterNumber"].toString(), "3");
    EXPECT_FALSE(json["NoFooter"].toBool());

    QMap<QString, QJsonObject> byName;
    for (const QJsonValue& v : json["values"].toArray())
        byName[v.toObject()["name"].toString()] = v.toObject();
    EXPECT_EQ(byName["REQCODE"]["value"].toString(), "R1");
    EXPECT_EQ(byName["PROCCODE"]["value"].toString(), "P1");
    EXPECT_EQ(byName["PATSUR"]["key"].toString(), "12");
    EXPECT_EQ(byName["PATSUR"]["value"].toString(), QString::fromUtf8("M\u00DCLLER"));
    EXPECT_EQ(byName["PATGENDER"]["value"].toString(), QString(QChar(0)));
    EXPECT_NE(run.Out.indexOf("\\u0000"), -1);
    EXPECT_EQ(json["values"].toArray()[0].toObject()["name"].toString(), "PATSUR");  // list order: tags first

    const QJsonArray images = json["images"].toArray();
    ASSERT_EQ(images.size(), 2);
    EXPECT_EQ(images[0].toObject()["FileName"].toString(), "logo.bmp");
    EXPECT_EQ(images[0].toObject()["PosX"].toInt(), 200);
    EXPECT_EQ(images[1].toObject()["TargetHeight"].toInt(), 6);
    EXPECT_TRUE(images[1].toObject()["FromRequest"].toBool());
    EXPECT_EQ(images[1].toObject()["LayoutCodeB"].toInt(), 3);
}

TEST(ToolParse, AMissingTagFileFailsAndNamesThePath)
{
    TTempDir dir;
    WriteFile(dir / "r.tvq", "HV_REQCODE~R1");
    const TRun run = RunTool({"parse", QString::fromStdString(dir / "r.tvq"), "--tags", QString::fromStdString(dir / "none.txt")});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err.toStdString(), "printorb-tool: no tag file at " + (dir / "none.txt") +
                                         " (use --tags FILE or --home DIR)\n");
    EXPECT_TRUE(run.Out.isEmpty());
    const TRun inHome = RunTool({"parse", QString::fromStdString(dir / "r.tvq"), "--home", QString::fromStdString(dir.Path())});
    EXPECT_EQ(inHome.Status, 1);
    EXPECT_NE(inHome.Err.indexOf(QByteArray::fromStdString(dir / "tags.txt")), -1) << "the path looked for";

    EXPECT_EQ(RunTool({"parse", QString::fromStdString(dir / "absent.tvq")}).Status, 1);
    EXPECT_EQ(RunTool({"parse"}).Status, 2);
    EXPECT_EQ(RunTool({"nonsense"}).Status, 2);
}

TEST(ToolConvert, LetterheadToPdfAndBack)
{
    TTempDir dir;
    const QString letterhead = QString::fromStdString(SourceDir() + "/tests/platform/data/lo/lo_report_letter_2pages.rtf");
    const TRun run = RunTool({"convert", letterhead, QString::fromStdString(dir / "out.pdf")});
    ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Out.toStdString(), dir / "out.pdf" + ": 4 page(s), Letter portrait, 216 x 279 mm (12240 x 15840 twips)\n");
    QProcess info;
    info.start("pdfinfo", {QString::fromStdString(dir / "out.pdf")});
    info.waitForFinished(30000);
    const QString details = QString::fromUtf8(info.readAllStandardOutput());
    EXPECT_TRUE(details.contains(QRegularExpression("Pages:\\s+4\\n"))) << details.toStdString();
    EXPECT_TRUE(details.contains("612 x 792 pts")) << details.toStdString();  // US Letter
    QProcess text;
    text.start("pdftotext", {QString::fromStdString(dir / "out.pdf"), "-"});
    text.waitForFinished(30000);
    const QString words = QString::fromUtf8(text.readAllStandardOutput()).simplified();
    EXPECT_TRUE(words.contains("Microscopic finding 69:"));
    EXPECT_EQ(words.count("Westside Clinical Laboratories Department of Anatomical Pathology"), 4);

    // Into the engine's own format and back to PDF.
    ASSERT_EQ(RunTool({"convert", letterhead, QString::fromStdString(dir / "lh.txw")}).Status, 0);
    ASSERT_EQ(RunTool({"convert", QString::fromStdString(dir / "lh.txw"), QString::fromStdString(dir / "again.pdf")}).Status, 0);

    WriteFile(dir / "old.doc", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(100, '\0'));
    const TRun refused = RunTool({"convert", QString::fromStdString(dir / "old.doc"), QString::fromStdString(dir / "x.pdf")});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.indexOf("save it as Rich Text Format"), -1);
    EXPECT_FALSE(FileExists(dir / "x.pdf"));
    EXPECT_EQ(RunTool({"convert", letterhead, QString::fromStdString(dir / "out.xyz")}).Status, 2);
}

// A one-bit picture whose rows do not end on a byte is written back the same
// whatever the memory it was decoded into held before (glibc fills fresh
// memory with MALLOC_PERTURB_'s byte).
TEST(ToolConvert, AOneBitPictureIsWrittenBackTheSameWhateverTheMemoryHeld)
{
    TTempDir dir;
    QImage picture(117, 50, QImage::Format_Mono);
    picture.fill(0);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = y % 3; x < picture.width(); x += 3)
            picture.setPixel(x, y, 1);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(picture.save(&buffer, "PNG"));
    // In a header's table cell, where the picture is written back from its pixels.
    WriteFile(dir / "in.rtf", "{\\rtf1{\\header\\trowd\\cellx4000\\pard\\intbl{\\pict\\pngblip\\picwgoal2340\\pichgoal1000 " +
                                  png.toHex().toStdString() + "}\\cell\\row}Body\\par}");
    std::vector<std::string> saved;
    for (const char* perturb : {"0", "85", "170"}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("MALLOC_PERTURB_", perturb);
        const std::string out = dir / (std::string("out") + perturb + ".rtf");
        const TRun run = RunTool({"convert", QString::fromStdString(dir / "in.rtf"), QString::fromStdString(out)}, env);
        ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
        saved.push_back(ReadFile(out));
        ASSERT_NE(saved.back().find("\\pngblip"), std::string::npos);
    }
    EXPECT_EQ(saved[1], saved[0]);
    EXPECT_EQ(saved[2], saved[0]);
}
