// Backlog mode (DRAINBACKLOG=Yes) on the real unattended server: printorbd
// as a child process on a private CUPS scheduler with a capture backend.
// Start to ready, idle memory, memory after 10 jobs, then 2,000 requests
// dropped at once (half printed, half saved as PDF): the time to the last
// output, jobs per second, and the memory after them.
//
//   bench_backlog [JOBS]     JOBS defaults to 2000; PRINTORBD names the
//                            daemon (default: printorbd beside this program);
//                            PRINTORB_BENCH_KEEP=1 keeps the temp folder.
#include "support/notifysocket.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#ifndef PRINTORB_SOURCE_DIR
#error "PRINTORB_SOURCE_DIR must be defined by the build"
#endif

extern char** environ;

namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

const std::string kTop = PRINTORB_SOURCE_DIR;
const std::string kQueue = "ORB-Backlog";
constexpr int kGiveUpSeconds = 600;

double MsSince(TClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

void WriteText(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Output of a shell command, its trailing newline dropped; "" when it failed.
std::string Run(const std::string& command)
{
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return {};
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    if (::pclose(pipe) != 0)
        return {};
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

long RssKbOf(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

// Files in a folder whose names start with prefix and end with suffix;
// readdir only, so that polling a folder of thousands stays cheap.
int CountFiles(const fs::path& folder, const std::string& prefix, const std::string& suffix)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.size() >= prefix.size() + suffix.size() && name.substr(0, prefix.size()) == prefix &&
            name.substr(name.size() - suffix.size()) == suffix)
            ++count;
    }
    ::closedir(dir);
    return count;
}

// Polls until done() or the bound; false with a message when it gave up.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs, const std::string& what,
               const std::function<void()>& progress = {})
{
    const auto start = TClock::now();
    auto lastReport = start;
    while (!done()) {
        if (MsSince(start) > timeoutMs) {
            std::fprintf(stderr, "gave up after %d s waiting for %s\n", timeoutMs / 1000, what.c_str());
            return false;
        }
        if (progress && std::chrono::duration<double>(TClock::now() - lastReport).count() >= 10) {
            progress();
            lastReport = TClock::now();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

struct TRun {
    fs::path Dir, Home, Spool, Results, Cups, Capture;
    pid_t Server = -1;
    bool CupsStarted = false;

    ~TRun()
    {
        StopServer();
        if (CupsStarted)
            Run("'" + kTop + "/tests/peers/cups-private.sh' stop '" + Cups.string() + "' >/dev/null 2>&1");
        const char* keep = std::getenv("PRINTORB_BENCH_KEEP");
        if (!Dir.empty() && !(keep && *keep == '1')) {
            std::error_code ignored;
            fs::remove_all(Dir, ignored);
        } else if (!Dir.empty())
            std::fprintf(stderr, "kept %s\n", Dir.c_str());
    }
    // SIGTERM, then SIGKILL when it does not end within 15 s; its exit status or -1.
    int StopServer()
    {
        if (Server <= 0)
            return -1;
        ::kill(Server, SIGTERM);
        int status = 0;
        const auto start = TClock::now();
        while (::waitpid(Server, &status, WNOHANG) == 0) {
            if (MsSince(start) > 15000) {
                std::fprintf(stderr, "printorbd did not end on SIGTERM; killed\n");
                ::kill(Server, SIGKILL);
                ::waitpid(Server, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        Server = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int Printed() const { return CountFiles(Capture, "job-", ".info"); }
    int Pdfs() const { return CountFiles(Results, "R", ".pdf"); }
    int Waiting() const { return CountFiles(Spool, "", ".tvq"); }
};

std::string Request(int n, const fs::path& results)
{
    const std::string code = "R" + std::to_string(n);
    std::string text = "HV_TEMPLATE~LH^HV_REQCODE~" + code + "^HV_PROCCODE~P1^HV_PATSUR~SMITH^HV_PATGIVEN~JANE";
    // Even: printed on the queue; odd: saved as PDF.
    text += "^HV_PRINTER~1";
    if (n % 2 == 0)
        return text + "\r\n";
    return text + "^HV_PDFDOC~" + (results / (code + ".pdf")).string() + "\r\n";
}

// Written beside the spool folder, to be renamed in: never seen half-written.
using TMoves = std::vector<std::pair<fs::path, fs::path>>;
TMoves Prepare(const TRun& run, int first, int count)
{
    TMoves moves;
    for (int n = first; n < first + count; ++n) {
        const std::string name = "bench" + std::to_string(n) + ".tvq";
        const fs::path temp = run.Home / (".drop-" + name);
        WriteText(temp, Request(n, run.Results));
        moves.emplace_back(temp, run.Spool / name);
    }
    return moves;
}

void Drop(const TMoves& moves)
{
    for (const auto& [from, to] : moves)
        fs::rename(from, to);
}

}  // namespace

int main(int argc, char** argv)
{
    const int jobs = argc > 1 ? std::atoi(argv[1]) : 2000;
    if (jobs < 2) {
        std::fprintf(stderr, "usage: %s [JOBS >= 2]\n", argv[0]);
        return 2;
    }
    std::string daemon = std::getenv("PRINTORBD") ? std::getenv("PRINTORBD") : "";
    if (daemon.empty())
        daemon = (fs::read_symlink("/proc/self/exe").parent_path() / "printorbd").string();
    if (::access(daemon.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "no printorbd at %s (build it, or set PRINTORBD)\n", daemon.c_str());
        return 1;
    }

    char dirTemplate[] = "/tmp/bench_backlog.XXXXXX";
    if (!::mkdtemp(dirTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    TRun run;
    run.Dir = dirTemplate;
    run.Home = run.Dir / "home";
    run.Spool = run.Home / "spool";
    run.Results = run.Home / "results";
    run.Cups = run.Dir / "cups";
    run.Capture = run.Cups / "out" / kQueue;

    const std::string script = "'" + kTop + "/tests/peers/cups-private.sh' ";
    const std::string port = Run(script + "start '" + run.Cups.string() + "'");
    run.CupsStarted = !port.empty();
    if (port.empty() || Run(script + "add '" + run.Cups.string() + "' " + kQueue + " && echo ok") != "ok") {
        std::fprintf(stderr, "the private CUPS scheduler did not start\n");
        return 1;
    }

    for (const fs::path& folder : {run.Spool, run.Results, run.Home / "templates"})
        fs::create_directories(folder);
    const std::string home = run.Home.string() + "/";
    WriteText(run.Home / "printserver.inf", "RESULTS=" + run.Results.string() + "\r\nSPOOLER=" + run.Spool.string() +
                                                "\r\nTEMPLATES=" + home + "templates\r\nDEFLETTERHEAD=LH\r\n" +
                                                "PRINTER1=" + kQueue + "\r\nDRAINBACKLOG=Yes\r\nSETTLESECONDS=0\r\n");
    WriteText(run.Home / "tags.txt", "3|PATSUR\r\n4|PATGIVEN\r\n");
    WriteText(run.Home / "templates/LH.doc",
              "{\\rtf1{\\header Pathology Laboratory <<PATSUR>>\\par}\\paperw11906\\paperh16838 x\\par}");
    WriteText(run.Home / "templates/P1.tpl", "{\\rtf1 Result for <<PATSUR>>, <<PATGIVEN>>: no abnormality.\\par}");

    TNotifySocket notify((run.Dir / "notify").string());
    if (!notify.Bound()) {
        std::fprintf(stderr, "could not bind the notification socket\n");
        return 1;
    }

    // The child's environment: ours, without a display or a watchdog of systemd's.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "NOTIFY_SOCKET" && name != "WATCHDOG_USEC" &&
            name != "WATCHDOG_PID" && name != "JOURNAL_STREAM" && name != "PRINTORB_HOME" && name != "CUPS_SERVER" &&
            name != "QT_QPA_PLATFORM")
            env.push_back(entry);
    }
    env.push_back("PRINTORB_HOME=" + home);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("CUPS_SERVER=127.0.0.1:" + port);
    env.push_back("NOTIFY_SOCKET=" + (run.Dir / "notify").string());
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    const std::string errPath = (run.Dir / "printorbd.err").string();

    const auto launched = TClock::now();
    run.Server = ::fork();
    if (run.Server == 0) {
        // The log is mirrored to standard error: kept in a file, not on our terminal.
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0) {
            ::dup2(err, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
        }
        char* args[] = {daemon.data(), nullptr};
        ::execve(daemon.c_str(), args, envp.data());
        ::_exit(127);
    }
    if (run.Server < 0) {
        std::perror("fork");
        return 1;
    }
    if (!notify.WaitFor("READY=1", 30000)) {
        std::fprintf(stderr, "printorbd did not say READY=1 within 30 s; its output:\n%s\n",
                     ReadText(errPath).c_str());
        return 1;
    }
    // When READY=1 came, not when this loop got round to reading it.
    const double readyMs =
        std::chrono::duration<double, std::milli>(notify.Arrival(notify.With("READY=1").front()) - launched).count();

    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long idleKb = RssKbOf(run.Server);

    const int warm = 10;
    Drop(Prepare(run, 0, warm));
    if (!WaitUntil([&] { return run.Printed() >= warm / 2 && run.Pdfs() >= warm / 2 && run.Waiting() == 0; },
                   kGiveUpSeconds * 1000, "the first 10 jobs"))
        return 1;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long after10Kb = RssKbOf(run.Server);
    const int printedBefore = run.Printed();
    const int pdfsBefore = run.Pdfs();

    const int printJobs = (jobs + 1) / 2;  // the even numbers from warm on
    const int pdfJobs = jobs / 2;
    const TMoves moves = Prepare(run, warm, jobs);
    const auto dropped = TClock::now();
    Drop(moves);
    const double dropMs = MsSince(dropped);
    const auto progress = [&] {
        std::fprintf(stderr, "  %5.0f s: %d printed, %d PDFs, %d waiting in the spool folder\n", MsSince(dropped) / 1000,
                     run.Printed() - printedBefore, run.Pdfs() - pdfsBefore, run.Waiting());
    };
    if (!WaitUntil(
            [&] {
                return run.Printed() - printedBefore >= printJobs && run.Pdfs() - pdfsBefore >= pdfJobs &&
                       run.Waiting() == 0;
            },
            kGiveUpSeconds * 1000, "the " + std::to_string(jobs) + " jobs", progress)) {
        progress();
        return 1;
    }
    const double totalS = MsSince(dropped) / 1000;
    const long afterAllKb = RssKbOf(run.Server);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long afterAllSettledKb = RssKbOf(run.Server);
    const int extraPrinted = run.Printed() - printedBefore - printJobs;

    const int stopStatus = run.StopServer();
    const double rate = jobs / totalS;
    const auto mb = [](long kb) { return kb / 1024.0; };
    std::printf("backlog mode, printorbd: %d jobs (%d printed on CUPS, %d saved as PDF)\n", jobs, printJobs, pdfJobs);
    std::printf("%-34s %12s   %s\n", "figure", "measured", "goal");
    std::printf("%-34s %12.0f   <= 200 %s\n", "start to READY=1, ms", readyMs, readyMs <= 200 ? "met" : "MISSED");
    std::printf("%-34s %12.1f   <= 40 %s\n", "idle RSS, MB", mb(idleKb), mb(idleKb) <= 40 ? "met" : "MISSED");
    std::printf("%-34s %12.1f\n", "RSS after 10 jobs, MB", mb(after10Kb));
    const double growth = mb(afterAllKb) - mb(after10Kb);
    std::printf("%-34s %12.1f   <= %.1f (after 10 + 5) %s\n", ("RSS after " + std::to_string(jobs) + " jobs, MB").c_str(),
                mb(afterAllKb), mb(after10Kb) + 5, growth <= 5 ? "met" : "MISSED");
    std::printf("%-34s %12.1f\n", "  the same 3 s later, MB", mb(afterAllSettledKb));
    std::printf("%-34s %12.1f   < 120 %s\n", ("seconds for " + std::to_string(jobs)).c_str(), totalS,
                totalS < 120 ? "met" : "MISSED");
    std::printf("%-34s %12.1f   >= 17 %s\n", "jobs per second", rate, rate >= 17 ? "met" : "MISSED");
    std::printf("(the drop's renames took %.0f ms; printorbd ended with status %d", dropMs, stopStatus);
    if (extraPrinted != 0)
        std::printf("; %d more CUPS jobs than printed requests", extraPrinted);
    std::printf(")\n");
    std::fflush(stdout);
    return 0;
}
