// The template author's preview and the server go one way: a request
// rendered by printorb-tool render and the same request printed by printorbd
// give the same pages, name the same outputs and keep the same warnings.
#include "support/testsupport.h"
#include "util/fileutil.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

// A server home: a letterhead with tags in its header, a template, the tag
// file (unless left out) and the settings, with one printer the print system
// knows (PRINTER1) and one it does not (PRINTER2).
struct TPathHome {
    TTempDir Dir;

    explicit TPathHome(bool tagFile)
    {
        for (const char* sub : {"spool", "results", "templates"})
            EXPECT_TRUE(ForceDir(Dir / sub));
        if (tagFile)
            WriteFile(Dir / "tags.txt", "0|TEMPLATE\r\n1|REQCODE\r\n2|PROCCODE\r\n3|PATSUR\r\n4|PATGIVEN\r\n");
        WriteFile(Dir / "templates/LH.doc",
                  "{\\rtf1{\\header Pathology Laboratory <<PATSUR>> <<3>>\\par}{\\footer Footer line\\par}"
                  "\\paperw11906\\paperh16838 Letterhead body\\par}");
        WriteFile(Dir / "templates/P1.tpl",
                  "{\\rtf1 Result for <<PATSUR>>, <<4>>: no abnormality.\\par\\page Second page <<PATSUR>>\\par}");
        WriteFile(Dir / "printserver.inf", "RESULTS=" + (Dir / "results") + "\r\nSPOOLER=" + (Dir / "spool") +
                                               "\r\nTEMPLATES=" + (Dir / "templates") +
                                               "\r\nDEFLETTERHEAD=LH\r\nSETTLESECONDS=0\r\nDRAINBACKLOG=Yes\r\n"
                                               "PRINTER1=Laser-A\r\nPRINTER2=Ghost\r\n");
    }
    TProgramRun Tool(std::vector<std::string> args) const
    {
        args.push_back("--home");
        args.push_back(Dir.Path());
        return RunProgram("printorb-tool", args);
    }
};

// What one way made of a request: its pages' text, its outputs (as render
// names them) and its warnings.
struct TSeen {
    std::vector<std::string> Pages;
    std::vector<std::string> Outputs;
    std::vector<std::string> Warnings;
    std::string SavedPdf;  // a saved PDF's bytes, its creation time blanked
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string PageText(const std::string& pdf, int page)
{
    QProcess text;
    text.start("pdftotext", {"-layout", "-f", QString::number(page), "-l", QString::number(page),
                             QString::fromStdString(pdf), "-"});
    text.waitForFinished(30000);
    return text.readAllStandardOutput().toStdString();
}

std::string WithoutCreationTime(const std::string& pdf)
{
    static const QRegularExpression created("/CreationDate \\(D:[0-9]+Z?\\)");
    return QString::fromLatin1(pdf).remove(created).toLatin1().toStdString();
}

// printorb-tool render, into a folder of its own; a saved document keeps its
// name, so that its title is the server's.
TSeen Rendered(const TPathHome& home, const std::string& request, const std::string& savedAs, TProgramRun& run)
{
    TTempDir out;
    WriteFile(out / "request.tvq", request);
    const std::string pdf = out / (savedAs.empty() ? std::string("preview.pdf") : ExtractFileName(savedAs));
    run = home.Tool({"render", out / "request.tvq", pdf});
    TSeen seen;
    seen.Outputs = Lines(run.Out);
    for (const std::string& line : Lines(run.Err))
        if (line.rfind("warning: ", 0) == 0)
            seen.Warnings.push_back(line.substr(9));
    const std::string bytes = ReadFile(pdf);
    const int pages = bytes.empty() ? 0 : std::stoi(PdfInfoField(bytes, "Pages"));
    for (int page = 1; page <= pages; ++page)
        seen.Pages.push_back(PageText(pdf, page));
    if (!savedAs.empty())
        seen.SavedPdf = WithoutCreationTime(bytes);
    return seen;
}

QJsonObject JobOf(const TPathHome& home, const std::string& reqCode)
{
    const TProgramRun listed = home.Tool({"jobs", "--reqcode", reqCode, "--json"});
    const QJsonArray jobs = QJsonDocument::fromJson(QByteArray::fromStdString(listed.Out)).array();
    return jobs.size() == 1 ? jobs[0].toObject() : QJsonObject();
}

// printorbd over the home, until the request's job is done.
TSeen Served(const TPathHome& home, const TCupsPeer& cups, const std::string& request, const std::string& reqCode,
             const std::string& savedAs)
{
    TSeen seen;
    QProcess server;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("PRINTORB_HOME", QString::fromStdString(home.Dir.Path()));
    server.setProcessEnvironment(env);
    server.start(QString::fromStdString(BinaryDir() + "/bin/printorbd"), {});
    EXPECT_TRUE(server.waitForStarted(5000));
    WriteFile(home.Dir / "spool/request.tvq", request);
    const bool ended = WaitFor([&] { return JobOf(home, reqCode)["state"].toString() == "done"; }, 60000);
    server.terminate();
    if (!server.waitForFinished(10000))
        server.kill();
    EXPECT_TRUE(ended) << ReadFile(home.Dir / "spoolerLog.txt");

    const std::string id = std::to_string(JobOf(home, reqCode)["id"].toInt());
    const QJsonObject story =
        QJsonDocument::fromJson(QByteArray::fromStdString(home.Tool({"job", id, "--json"}).Out)).object();
    for (const QJsonValue warning : story["warning_list"].toArray())
        seen.Warnings.push_back(warning.toObject()["what"].toString().toStdString());
    std::map<std::string, int> printed;
    for (const QJsonValue output : story["output_records"].toArray()) {
        const QJsonObject o = output.toObject();
        if (o["kind"].toString() == "cups")
            ++printed[o["printer"].toString().toStdString()];
        else
            seen.Outputs.push_back(o["path"].toString().toStdString());
    }
    for (const auto& [printer, pages] : printed)
        seen.Outputs.insert(seen.Outputs.begin(), "printed on " + printer + " (" + std::to_string(pages) + " page" +
                                                      (pages == 1 ? ")" : "s)"));
    if (!savedAs.empty()) {
        const std::string bytes = ReadFile(savedAs);
        for (int page = 1; page <= std::stoi(PdfInfoField(bytes, "Pages")); ++page)
            seen.Pages.push_back(PageText(savedAs, page));
        seen.SavedPdf = WithoutCreationTime(bytes);
        return seen;
    }
    const std::size_t pages = static_cast<std::size_t>(printed["Laser-A"]);
    for (const TCapturedJob& job : cups.JobsWhenQuiet("Laser-A", pages))
        if (job.Title.rfind(reqCode + " P", 0) == 0) {
            TTempDir dir;
            WriteFile(dir / "page.pdf", job.Data);
            seen.Pages.push_back(PageText(dir / "page.pdf", 1));
        }
    return seen;
}

}  // namespace

TEST(OnePath, RenderAndTheServerComposeAndPlanTheSame)
{
    TCupsPeer cups;
    // The scheduler has no default printer until a case wants one.
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A"));
    bool haveDefault = false;
    const std::string base = "HV_TEMPLATE~LH^HV_PROCCODE~P1^HV_PATSUR~SMITH^HV_PATGIVEN~JANE^HV_VALIDATED~DR X";
    const struct {
        const char* what;
        std::string fields;  // after the base, overriding it
        bool tagFile;
        bool saved;
        std::size_t pages;
        const char* text;  // on the first page
        std::vector<std::string> warnings;
        bool printSystemDefault = true;  // else the fallback is the printer table's default entry
    } cases[] = {
        {"a printer number not in the table, no default printer in the print system", "^HV_PRINTER~7", true, false, 2,
         "Result for SMITH, JANE", {"Printer 7 does not exist, using default (printer 1)."}, false},
        {"a printer the print system does not know, nor a default printer", "^HV_PRINTER~2", true, false, 2,
         "Result for SMITH, JANE", {"Printer 2 does not exist, using default (printer 1)."}, false},
        {"a normal request", "^HV_PRINTER~1", true, false, 2, "Result for SMITH, JANE", {}},
        {"a normal request saved as PDF", "^HV_PRINTER~1", true, true, 2, "Result for SMITH, JANE", {}},
        // The server prints the letterhead alone, and calls the job done.
        {"no template for the procedure", "^HV_PRINTER~1^HV_PROCCODE~P9", true, false, 1, "Letterhead body",
         {"No template exists for P9 in a Letterhead print request."}},
        {"no tag file", "^HV_PRINTER~1", false, false, 2, "Result for SMITH, ???",
         {"Warning!! The \"TAG\" file is missing."}},
        {"a printer number not in the table", "^HV_PRINTER~7", true, false, 2, "Result for SMITH, JANE",
         {"Printer 7 is not in the printer table, using the default printer Laser-A."}},
        {"a printer the print system does not know", "^HV_PRINTER~2", true, false, 2, "Result for SMITH, JANE",
         {"Printer 2 (Ghost) is not known to the print system, using the default printer Laser-A."}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.printSystemDefault && !haveDefault) {
            haveDefault = cups.SetDefault("Laser-A");
            ASSERT_TRUE(haveDefault);
        }
        const TPathHome home(c.tagFile);
        const std::string reqCode = "R" + std::to_string(++n);
        const std::string savedAs = c.saved ? home.Dir / ("results/" + reqCode + ".pdf") : std::string();
        const std::string request =
            base + c.fields + "^HV_REQCODE~" + reqCode + (c.saved ? "^HV_PDFDOC~" + savedAs : std::string());

        TProgramRun run;
        const TSeen rendered = Rendered(home, request, savedAs, run);
        ASSERT_EQ(run.Status, 0) << run.Err;
        const TSeen served = Served(home, cups, request, reqCode, savedAs);

        EXPECT_EQ(rendered.Warnings, c.warnings) << run.Err;
        EXPECT_EQ(served.Warnings, c.warnings);
        EXPECT_EQ(rendered.Outputs, served.Outputs);
        ASSERT_EQ(rendered.Pages.size(), c.pages);
        EXPECT_EQ(rendered.Pages, served.Pages);
        EXPECT_NE(rendered.Pages[0].find(c.text), std::string::npos) << rendered.Pages[0];
        EXPECT_EQ(rendered.SavedPdf, served.SavedPdf);
    }
}
