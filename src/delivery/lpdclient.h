// TsbLPD: one printer file to a network printer by the line printer daemon
// protocol (RFC 1179 receive-job), with this system's conversation: polled
// acknowledgements, fixed pauses, a pause after every 1000 data bytes, and a
// result code per failing step.
#pragma once

#include "platform/sockets/socketclient.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <istream>
#include <string>

class TsbLPD {
public:
    TsbLPD();

    // The next job number; the control file is made anew by Send.
    void NextJob();
    // 0 when delivered; negative for the failing step. Socket errors while a
    // command, the control file or an acknowledgement is exchanged propagate.
    [[nodiscard]] int Send(const std::string& host, const std::string& queue, const std::string& user, const std::string& machine,
             const std::string& domain, std::istream& data);

    std::string JobNumber() const;
    static std::string HostPart(const std::string& machine, const std::string& domain);

    TSocketClient Client;
    std::string ControlText;
    std::uint8_t JobCounter = 0;
    std::string StatusText;
    // What went wrong, for people: where (host:port), at which step and the
    // system's reason. Empty after a delivery.
    std::string Detail;
    int DataDelay = 1;
    // A printer is first given this long to answer the receive-job command;
    // one that does not is taken as a printer that never answers, and its
    // later answers are polled.
    int FirstAckWaitMs = 1000;
    // A printer that has answered gets this long for each later answer, so
    // every answer is judged at the step it belongs to, whatever the latency.
    int AckWaitMs = 10000;
    // How the conversation pauses; the real clock unless replaced.
    std::function<void(int ms)> Pause;

private:
    // The steps a printer answers, in the order it answers them.
    enum class TStep { ReceiveJob, ControlHeader, ControlFile, DataHeader, DataEnd };

    bool SendText(const std::string& text);
    bool SendZero();
    bool SendData(std::istream& data);
    // Asks for the answer to a step. Answers still owed to earlier steps are
    // read first; a refusal is reported with the step it answers (FRefused).
    std::string ReadAck(TStep step);
    // The result after the job's last byte: delivered, refused or lost.
    std::string ReadFinalAck();
    static int RefusalCode(TStep step);
    static const char* StepName(TStep step);
    int Failed(int code, const std::string& status, const std::string& detail);

    std::deque<TStep> FOwed;      // asked, not answered yet
    bool FAnswering = false;      // the printer has answered in this job
    bool FFinalAnswered = false;  // the answer to the job's end has come
    TStep FRefused = TStep::ReceiveJob;
};
