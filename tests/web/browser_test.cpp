// The status page in a real browser: headless Chromium opens the pages of a
// real printorbd after its jobs ran; what the page's script made of the API
// is read from the DOM, and each page is kept as a picture under
// build/screens/ for people to look at.
#include "web/webhome.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace {

using nlohmann::json;

const std::string kBase = "HV_TEMPLATE~LH^HV_PROCCODE~P1^HV_PRINTER~1^HV_PATSUR~SMITH";

// Chromium on pages of 127.0.0.1 with a profile of its own. Every other
// address goes to a proxy that is not there and no name is looked up, so
// nothing leaves the machine.
TProgramRun Browse(const TTempDir& profile, const std::string& url, const std::vector<std::string>& what,
                   const std::string& size = "1280,900")
{
    std::vector<std::string> args = {"--headless",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--user-data-dir=" + profile.Path(),
                                     "--no-first-run",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--disable-default-apps",
                                     "--disable-extensions",
                                     "--no-pings",
                                     "--proxy-server=127.0.0.1:9",
                                     "--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1",
                                     "--hide-scrollbars",
                                     "--window-size=" + size,
                                     // Waits for the script's fetches, in the browser's own time.
                                     "--virtual-time-budget=4000"};
    args.insert(args.end(), what.begin(), what.end());
    args.push_back(url);
    return RunProgram(QStandardPaths::findExecutable(QStringLiteral("chromium")).toStdString(), args, {}, 60000);
}

// Text as the DOM serializes it.
std::string AsDomText(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace

TEST(WebBrowser, ThePagesShowTheServersJobsAsText)
{
    if (QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
        GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs Debian's chromium): "
                        "the status page was not opened in a browser";
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A") && cups.SetDefault("Laser-A"));
    TWebHome home("PRINTER2=Ghost\r\nDRAINBACKLOG=Yes\r\n");
    const std::string markup = "<script>alert(1)</script>\"'&";
    const std::string markupFile = "<img src=x onerror=alert(2)>.tvq";
    home.Drop(markupFile, kBase + "^HV_REQCODE~" + markup + "\xFC");
    home.Drop("ward7-0042.tvq", kBase + "^HV_REQCODE~B42");
    ASSERT_TRUE(home.StartServing()) << home.LogText();
    ASSERT_TRUE(WaitEvery(
        250,
        [&] {
            const json done = home.Get("/api/jobs?state=done").Json();
            return done.is_array() && done.size() == 2;
        },
        60000))
        << home.LogText();
    ASSERT_EQ(cups.JobsWhenQuiet("Laser-A", 2).size(), 2u);

    const json status = home.Get("/api/status").Json();
    ASSERT_TRUE(status.is_object() && status["last_jobs"].size() == 2) << status.dump(1);
    const json last = status["last_jobs"][0];
    const std::string lastId = std::to_string(last["id"].get<int>());
    const std::string lastFile = AsDomText(last["request"].get<std::string>());
    std::string markupId;
    for (const json& job : status["last_jobs"])
        if (job["request"] == markupFile)
            markupId = std::to_string(job["id"].get<int>());
    ASSERT_FALSE(markupId.empty()) << status.dump(1);
    const std::string base = "http://127.0.0.1:" + std::to_string(home.Port);
    TTempDir profile;

    // What a request says, and a spool file's name, stay text on every page
    // that shows them: no element is made of them.
    const std::string reqCodeText = AsDomText(markup + "\xC3\xBC");
    const std::string fileText = AsDomText(markupFile);
    const struct {
        std::string path;
        bool showsReqCode;
    } pages[] = {{"/", true}, {"/jobs", true}, {"/jobs/" + markupId, true}, {"/log", false}};
    for (const auto& page : pages) {
        const TProgramRun run = Browse(profile, base + page.path, {"--dump-dom"});
        ASSERT_EQ(run.Status, 0) << page.path << "\n" << run.Err;
        EXPECT_EQ(run.Out.find("<script>alert(1)"), std::string::npos) << page.path << "\n" << run.Out;
        EXPECT_EQ(run.Out.find("<img"), std::string::npos) << page.path << "\n" << run.Out;
        EXPECT_NE(run.Out.find(fileText), std::string::npos) << page.path << "\n" << run.Out;
        if (page.showsReqCode) {
            EXPECT_NE(run.Out.find(reqCodeText), std::string::npos) << page.path << "\n" << run.Out;
        }
        if (page.path == "/jobs/" + markupId) {
            // Facts a job does not have are left out, not written as "null".
            const auto facts = run.Out.find("id=\"facts\"");
            const std::string list = run.Out.substr(facts, run.Out.find("</dl>", facts) - facts);
            EXPECT_NE(list.find("<dt>Request code</dt>"), std::string::npos) << list;
            EXPECT_EQ(list.find("null"), std::string::npos) << list;
        }
        if (page.path != "/")
            continue;
        // The overview as its script filled it from /api/status.
        const std::string& dom = run.Out;
        EXPECT_EQ(dom.find("Reading the server's state"), std::string::npos) << "the script did not run\n" << dom;
        EXPECT_NE(dom.find("<a href=\"/jobs/" + lastId + "\">" + lastId + "</a>"), std::string::npos) << dom;
        EXPECT_NE(dom.find("<td>" + lastFile + "</td>"), std::string::npos) << dom;
        EXPECT_NE(dom.find("<dd id=\"version\">" PACKAGE_VERSION "</dd>"), std::string::npos) << dom;
        EXPECT_NE(dom.find("class=\"verdict ok\""), std::string::npos) << dom;
    }

    // Pictures for people to look at.
    const std::string screens = BinaryDir() + "/screens/";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(screens)));
    const struct {
        std::string name;
        std::string path;
        std::string size;
    } shots[] = {
        {"overview", "/", "1280,900"},    {"jobs", "/jobs", "1280,900"},      {"job", "/jobs/" + markupId, "1280,900"},
        {"log", "/log", "1280,900"},      {"printers", "/printers", "1280,900"},
        {"overview-phone", "/", "390,844"},
    };
    for (const auto& shot : shots) {
        const std::string file = screens + shot.name + ".png";
        QFile::remove(QString::fromStdString(file));
        const TProgramRun run = Browse(profile, base + shot.path, {"--screenshot=" + file}, shot.size);
        EXPECT_EQ(run.Status, 0) << shot.name << "\n" << run.Err;
        EXPECT_TRUE(ReadFile(file).starts_with("\x89PNG")) << file;
    }
    home.Stop();
}
