// The watchdog under slow printers, on the real unattended server: printorbd
// as a child process with a NOTIFY_SOCKET of ours and WATCHDOG_USEC set as
// the unit sets it (120 s). Two printers behind scripted LPD peers:
//   slow      30 printer files to an LPD that answers each step after 1 s,
//             in backlog mode (DRAINBACKLOG=Yes, one round would send all);
//   stalled   one file to a printer that takes 64 KB and then stops reading,
//             in the default mode.
// For each: the time to the end and the longest gap between WATCHDOG=1
// messages, by their arrival. A gap near 120 s would get the service killed.
//
//   bench_watchdog [FILES]   FILES defaults to 30; PRINTORBD names the daemon.
#include "support/notifysocket.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

void WriteText(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A child process with our environment and some more; its output to a file.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv, const fs::path& output)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "NOTIFY_SOCKET" && name != "WATCHDOG_USEC" &&
            name != "WATCHDOG_PID" && name != "PRINTORB_HOME")
            env.push_back(entry);
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<std::string> args = argv;
        std::vector<char*> a, e;
        for (std::string& s : args)
            a.push_back(s.data());
        a.push_back(nullptr);
        for (std::string& s : env)
            e.push_back(s.data());
        e.push_back(nullptr);
        if (std::FILE* out = std::fopen(output.c_str(), "w")) {
            ::dup2(::fileno(out), STDOUT_FILENO);
            ::dup2(::fileno(out), STDERR_FILENO);
        }
        ::execve(a[0], a.data(), e.data());
        ::_exit(127);
    }
    return pid;
}

void Stop(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 300 && ::waitpid(pid, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// A scripted LPD peer; its port, from the first line it prints.
int StartPeer(const fs::path& dir, const std::string& mode, const std::string& delayMs, pid_t& pid)
{
    const fs::path out = dir / ("peer-" + mode + ".txt");
    const std::string peerOut = (dir / ("out-" + mode)).string();
    pid = Spawn({"/usr/bin/python3", kTop + "/tests/peers/lpd-peer.py", mode, peerOut, delayMs}, {}, out);
    for (int i = 0; i < 100; ++i) {
        const std::string text = ReadText(out);
        if (text.find('\n') != std::string::npos)
            return std::atoi(text.c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

struct TFigures {
    double Seconds = 0;
    long long LongestGapMs = 0;
    int Pings = 0;
    bool Done = false;
};

TFigures Scenario(const std::string& daemon, const fs::path& dir, int port, int files, bool backlog,
                  const std::string& doneLine, int giveUpSeconds)
{
    const fs::path home = dir / "home";
    for (const char* sub : {"spool", "results", "templates", "lpdspooler"})
        fs::create_directories(home / sub);
    WriteText(home / "printserver.inf",
              "RESULTS=" + (home / "results").string() + "\r\nSPOOLER=" + (home / "spool").string() +
                  "\r\nTEMPLATES=" + (home / "templates").string() +
                  "\r\nDEFLETTERHEAD=LH\r\nPRINTER1=Not-Installed\r\nHOSTIP-1=127.0.0.1:" + std::to_string(port) +
                  (backlog ? "\r\nDRAINBACKLOG=Yes\r\n" : "\r\n"));
    for (int n = 1; n <= files; ++n)
        WriteText(home / ("lpdspooler/_1_F" + std::to_string(n) + ".prn"),
                  "\x1b" "E" + std::string(backlog ? 2000 : 4 << 20, 'x') + "\f\x1b" "E");
    TNotifySocket notify((dir / "notify").string());
    TFigures figures;
    if (!notify.Bound())
        return figures;
    const auto start = TClock::now();
    // No print system: the raw route fails at once and LPD is taken.
    const pid_t server = Spawn({daemon},
                               {"PRINTORB_HOME=" + home.string() + "/", "QT_QPA_PLATFORM=offscreen",
                                "CUPS_SERVER=127.0.0.1:1", "NOTIFY_SOCKET=" + notify.Path(), "WATCHDOG_USEC=120000000"},
                               dir / "printorbd.err");
    while (std::chrono::duration<double>(TClock::now() - start).count() < giveUpSeconds) {
        notify.Messages();
        if (ReadText(home / "spoolerLog.txt").find(doneLine) != std::string::npos) {
            figures.Done = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    figures.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
    Stop(server);
    std::vector<long long> pings;
    for (const auto& message : notify.With("WATCHDOG=1"))
        pings.push_back(message.At);
    figures.Pings = static_cast<int>(pings.size());
    for (std::size_t i = 1; i < pings.size(); ++i)
        figures.LongestGapMs = std::max(figures.LongestGapMs, pings[i] - pings[i - 1]);
    return figures;
}

}  // namespace

int main(int argc, char** argv)
{
    const int files = argc > 1 ? std::atoi(argv[1]) : 30;
    std::string daemon = std::getenv("PRINTORBD") ? std::getenv("PRINTORBD") : "";
    if (daemon.empty())
        daemon = (fs::read_symlink("/proc/self/exe").parent_path() / "printorbd").string();
    if (::access(daemon.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "no printorbd at %s (build it, or set PRINTORBD)\n", daemon.c_str());
        return 1;
    }
    char dirTemplate[] = "/tmp/bench_watchdog.XXXXXX";
    if (!::mkdtemp(dirTemplate))
        return 1;
    const fs::path dir = dirTemplate;
    int status = 0;
    for (const bool slow : {true, false}) {
        const fs::path run = dir / (slow ? "slow" : "stalled");
        fs::create_directories(run);
        pid_t peer = -1;
        const int port = StartPeer(run, slow ? "ok" : "stall-data", slow ? "1000" : "0", peer);
        if (port <= 0) {
            std::fprintf(stderr, "the LPD peer did not start\n");
            Stop(peer);
            return 1;
        }
        const std::string done = slow ? "Sent LPD Job _1_F" + std::to_string(files) + ".prn OK"
                                      : "LPD Print result was ";
        const TFigures f = Scenario(daemon, run, port, slow ? files : 1, slow, done, slow ? 60 + files * 10 : 240);
        Stop(peer);
        std::printf("%-8s %3d file(s) %s: %s in %.0f s, %d watchdog pings, the longest gap %.1f s "
                    "(WatchdogSec 120 s)\n",
                    slow ? "slow" : "stalled", slow ? files : 1,
                    slow ? "to an LPD answering each step after 1 s, backlog mode"
                         : "to a printer that stops reading after 64 KB, default mode",
                    f.Done ? "done" : "NOT DONE", f.Seconds, f.Pings, f.LongestGapMs / 1000.0);
        if (!f.Done)
            status = 1;
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return status;
}
