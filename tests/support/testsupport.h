// Helpers shared by the tests: temporary folders, file contents, waiting on
// the event loop, and the private CUPS scheduler.
#pragma once

#include <QTemporaryDir>
#include <functional>
#include <string>
#include <vector>

class TTempDir {
public:
    TTempDir();
    // The folder's path with a trailing "/".
    const std::string& Path() const { return FPath; }
    std::string operator/(const std::string& name) const { return FPath + name; }

private:
    QTemporaryDir FDir;
    std::string FPath;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// What pdftotext reads from a PDF (given as bytes), and pdfinfo's fields.
std::string TextOfPdf(const std::string& pdfBytes);
std::string PdfInfoField(const std::string& pdfBytes, const std::string& field);  // e.g. "Pages"

// Runs the event loop until the condition holds or the time runs out.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000);

// Where the project's scripts and the built programs are.
std::string SourceDir();
std::string BinaryDir();

// One of the built programs run to its end: exit status (-1 when it did not
// finish in time), standard output and standard error.
struct TProgramRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};
// program: one of the build's programs by name, or an absolute path; input
// is its whole standard input.
TProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                       const std::vector<std::string>& environment = {}, int timeoutMs = 60000,
                       const std::string& input = {});

// A job as a queue of the private scheduler received it.
struct TCapturedJob {
    int Id = 0;
    std::string Title;
    std::string Options;  // as the backend got them: "name=value ..."
    std::string Data;
    bool HasOption(const std::string& option) const;  // "name=value"
};

// A private CUPS scheduler on 127.0.0.1, started by the project's own script
// and stopped when this goes; CUPS_SERVER points at it meanwhile.
class TCupsPeer {
public:
    TCupsPeer();
    ~TCupsPeer();
    TCupsPeer(const TCupsPeer&) = delete;
    TCupsPeer& operator=(const TCupsPeer&) = delete;

    bool Started() const { return FPort > 0; }
    int Port() const { return FPort; }
    // A queue whose jobs land whole in OutDir(queue).
    bool AddQueue(const std::string& queue, const std::string& extraOptions = {});
    bool SetDefault(const std::string& queue);
    // The scheduler stopped, and started again on its port with its queues.
    bool Stop();
    bool Resume();
    std::string OutDir(const std::string& queue) const;
    // The jobs the queue has received, in job order, once there are at least
    // count of them (or the time is up: a scheduler under load is slow).
    std::vector<TCapturedJob> Jobs(const std::string& queue, std::size_t count, int timeoutMs = 30000) const;
    // The jobs once there are at least count and none has come for quietMs
    // more: what "exactly once" is counted on, since a copy sent twice may
    // reach the backend a moment after the first.
    std::vector<TCapturedJob> JobsWhenQuiet(const std::string& queue, std::size_t count, int timeoutMs = 30000,
                                            int quietMs = 3000) const;

private:
    TTempDir FDir;
    int FPort = 0;
    std::string FOldServer;
    bool FHadServer = false;
};

// A port on 127.0.0.1 that nothing listens on (it was free a moment ago).
int ClosedPort();

// A plain TCP listener on 127.0.0.1 with a free port, for peers that only
// need to accept connections and see them close.
class TListener {
public:
    TListener();
    ~TListener();
    TListener(const TListener&) = delete;
    TListener& operator=(const TListener&) = delete;

    int Port() const { return FPort; }
    // Accepts every connection that is waiting; returns how many are open.
    int AcceptPending();
    int Accepted() const { return static_cast<int>(FClients.size()); }
    // true when the peer of accepted connection n has closed it.
    bool PeerClosed(int n);
    void Close();

private:
    int FFd = -1;
    int FPort = 0;
    std::vector<int> FClients;
};

// A peer started from tests/peers/: the first line it prints is its port;
// it is stopped (and reaped) when this goes.
class TPeerProcess {
public:
    TPeerProcess(const std::string& script, const std::vector<std::string>& args);
    ~TPeerProcess();
    TPeerProcess(const TPeerProcess&) = delete;
    TPeerProcess& operator=(const TPeerProcess&) = delete;
    int Port() const { return FPort; }

private:
    class QProcess* FProcess;
    int FPort = 0;
};
