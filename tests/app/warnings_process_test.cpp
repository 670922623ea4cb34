// What a job went on without, as the operator meets it: printorbd composes
// and prints each report all the same, and printorb-tool shows the warning
// with the job, its state still done.
#include "app/daemonhome.h"
#include "util/fileutil.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace {

// The job of a request code, as `jobs --json` lists it.
QJsonObject ListedJob(const TDaemonHome& home, const std::string& reqCode)
{
    const TProgramRun listed = home.Tool({"jobs", "--reqcode", reqCode, "--json"});
    const QJsonArray jobs = QJsonDocument::fromJson(QByteArray::fromStdString(listed.Out)).array();
    return jobs.size() == 1 ? jobs[0].toObject() : QJsonObject();
}

bool Ended(const TDaemonHome& home, const std::string& reqCode)
{
    const QString state = ListedJob(home, reqCode)["state"].toString();
    return state == "done" || state == "failed" || state == "unprintable";
}

}  // namespace

TEST(WarningsProcess, EachWarningIsKeptWithItsJobWhichIsStillDone)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A") && cups.SetDefault("Laser-A"));
    TDaemonHome home("PRINTER2=Ghost\r\nDRAINBACKLOG=Yes\r\n");
    const std::string base = "HV_TEMPLATE~LH^HV_PROCCODE~P1^HV_PRINTER~1^HV_PATSUR~SMITH";
    const struct {
        const char* what;
        std::string reqCode;
        std::string fields;  // after the base, overriding it
        std::string warning;
    } cases[] = {
        {"no template for the procedure", "W1", "^HV_PROCCODE~P9",
         "No template exists for P9 in a Letterhead print request."},
        {"no letterhead", "W2", "^HV_TEMPLATE~NOLH", "Could not load a Letterhead for this template NOLH"},
        {"no overlay key for the printer", "W3", "^HV_PMASK~5", "Request for Printer Mask (Page 1) failed "},
        {"no overlay file", "W4", "^HV_PRNFILENAME~GONE.prn",
         "ERROR: Request for OVERLAY failed GONE.prn does not exist."},
        {"no image", "W5", "^HV_IMAGEBOX~" + (home.Dir / "missing.png") + ",1,1",
         "The image " + (home.Dir / "missing.png") + " was not present for Document W5 P1"},
        {"a printer number not in the table", "W6", "^HV_PRINTER~7",
         "Printer 7 is not in the printer table, using the default printer Laser-A."},
        {"a printer the print system does not know", "W7", "^HV_PRINTER~2",
         "Printer 2 (Ghost) is not known to the print system, using the default printer Laser-A."},
    };
    for (const auto& c : cases)
        home.Drop(c.reqCode + ".tvq", base + "^HV_REQCODE~" + c.reqCode + c.fields);
    home.Drop("clean.tvq", base + "^HV_REQCODE~W0");
    ASSERT_TRUE(home.Start());
    ASSERT_TRUE(home.WaitForLog("The print system does not know the printer \"Ghost\" of PRINTER2 in printserver.inf."))
        << home.LogText();
    EXPECT_EQ(home.LogCount("The print system does not know the printer"), 1) << "Laser-A is known";

    for (const auto& c : cases) {
        ASSERT_TRUE(WaitFor([&] { return Ended(home, c.reqCode); }, 60000)) << c.what << "\n" << home.LogText();
        EXPECT_TRUE(home.LogText().find(c.warning) != std::string::npos) << c.what << ": the log line stays";
        const QJsonObject job = ListedJob(home, c.reqCode);
        EXPECT_EQ(job["state"].toString().toStdString(), "done") << c.what;
        EXPECT_EQ(job["warnings"].toInt(), 1) << c.what;

        const std::string id = std::to_string(job["id"].toInt());
        const TProgramRun story = home.Tool({"job", id});
        ASSERT_EQ(story.Status, 0) << story.Err;
        const auto warned = story.Out.find("warning: " + c.warning);
        EXPECT_NE(warned, std::string::npos) << c.what << "\n" << story.Out;
        EXPECT_LT(story.Out.find("taken: "), warned) << c.what << ": in the order it happened\n" << story.Out;
        EXPECT_NE(story.Out.find("state done after 1 attempt(s), 1 warning(s) in its story"), std::string::npos)
            << story.Out;

        const TProgramRun full = home.Tool({"job", id, "--json"});
        const QJsonObject detail = QJsonDocument::fromJson(QByteArray::fromStdString(full.Out)).object();
        const QJsonArray list = detail["warning_list"].toArray();
        ASSERT_EQ(list.size(), 1) << c.what << "\n" << full.Out;
        EXPECT_EQ(list[0].toObject()["what"].toString().toStdString().rfind(c.warning, 0), 0u) << c.what;
    }

    ASSERT_TRUE(WaitFor([&] { return Ended(home, "W0"); }, 60000)) << home.LogText();
    const QJsonObject clean = ListedJob(home, "W0");
    EXPECT_EQ(clean["state"].toString().toStdString(), "done");
    EXPECT_EQ(clean["warnings"].toInt(), 0) << "another job's warnings are not its own";

    // The list marks them; the status counts them and stays ok.
    const TProgramRun listed = home.Tool({"jobs"});
    const auto w1 = listed.Out.find("W1.tvq");
    ASSERT_NE(w1, std::string::npos) << listed.Out;
    const std::string w1Line = listed.Out.substr(w1, listed.Out.find('\n', w1) - w1);
    EXPECT_NE(w1Line.find(" done "), std::string::npos) << listed.Out;
    EXPECT_TRUE(w1Line.ends_with("  (1 warning)")) << listed.Out;
    const auto cleanLine = listed.Out.find("clean.tvq");
    ASSERT_NE(cleanLine, std::string::npos) << listed.Out;
    EXPECT_EQ(listed.Out.substr(cleanLine, listed.Out.find('\n', cleanLine) - cleanLine).find("warning"),
              std::string::npos)
        << listed.Out;
    const TProgramRun status = home.Tool({"status"});
    EXPECT_EQ(status.Status, 0) << status.Out;
    EXPECT_NE(status.Out.find("warnings: 7 job(s) of today with warnings\n"), std::string::npos) << status.Out;
    home.Stop();
}

TEST(WarningsProcess, EveryReportComposedWithoutTheTagFileSaysSo)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A") && cups.SetDefault("Laser-A"));
    TDaemonHome home;
    ASSERT_TRUE(DeleteFileAt(home.Dir / "tags.txt"));
    home.Drop("t1.tvq", std::string(TDaemonHome::kRequest) + "^HV_REQCODE~T1");
    ASSERT_TRUE(home.Start());
    ASSERT_TRUE(WaitFor([&] { return Ended(home, "T1"); }, 30000)) << home.LogText();
    // Written when the tags were read, before any job: the log keeps it once
    // per look, the job once in its story.
    home.Drop("t2.tvq", std::string(TDaemonHome::kRequest) + "^HV_REQCODE~T2");
    ASSERT_TRUE(WaitFor([&] { return Ended(home, "T2"); }, 30000)) << home.LogText();
    for (const std::string reqCode : {"T1", "T2"}) {
        const QJsonObject job = ListedJob(home, reqCode);
        EXPECT_EQ(job["state"].toString().toStdString(), "done") << reqCode;
        EXPECT_EQ(job["warnings"].toInt(), 1) << reqCode;
        const TProgramRun story = home.Tool({"job", std::to_string(job["id"].toInt())});
        EXPECT_NE(story.Out.find("warning: Warning!! The \"TAG\" file is missing."), std::string::npos) << story.Out;
    }
    home.Stop();
}

// A scheduler without a default printer: a request that names no printer
// falls back to the first printer entry. A report to be printed records
// that; a document only saved needs no printer, and its job no warning.
TEST(WarningsProcess, NamingNoPrinterIsAWarningOnlyForAReportToBePrinted)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A"));
    TDaemonHome home;
    const std::string base = "HV_TEMPLATE~LH^HV_PROCCODE~P1^HV_PATSUR~SMITH";
    home.Drop("printed.tvq", base + "^HV_REQCODE~N1");
    home.Drop("saved.tvq", base + "^HV_REQCODE~N2^HV_PDFDOC~" + (home.Dir / "results/N2.pdf"));
    ASSERT_TRUE(home.Start());
    for (const auto& [reqCode, warnings] : {std::pair {"N1", 1}, std::pair {"N2", 0}}) {
        ASSERT_TRUE(WaitFor([&] { return Ended(home, reqCode); }, 60000)) << reqCode << "\n" << home.LogText();
        const QJsonObject job = ListedJob(home, reqCode);
        EXPECT_EQ(job["state"].toString().toStdString(), "done") << reqCode << "\n" << home.LogText();
        EXPECT_EQ(job["warnings"].toInt(), warnings) << reqCode << "\n" << home.LogText();
    }
    EXPECT_EQ(home.LogCount("Printer  does not exist, using default (printer 1)."), 2) << home.LogText();
}
