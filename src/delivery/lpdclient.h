// TsbLPD: one printer file to a network printer by the line printer daemon
// protocol (RFC 1179 receive-job), with this system's conversation: polled
// acknowledgements, fixed pauses, a pause after every 1000 data bytes, and a
// result code per failing step.
#pragma once

#include "platform/sockets/socketclient.h"
#include "util/result.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <istream>
#include <string>

// What an LPD delivery came to. The numbers are the ones the log and the
// tool print, which operators and their scripts know: 0 delivered, negative
// for the step that failed (-3 no connection, -4 to -9 a step that could not
// be sent, -104 to -108 a step the printer refused).
enum class TLpdResult : int {
    Delivered = 0,
    NoConnection = -3,
    QueueCommandNotSent = -4,
    DataCommandNotSent = -5,
    DataNotSent = -6,
    DataEndNotSent = -7,
    ControlCommandNotSent = -8,
    ControlFileNotSent = -9,
    ReceiveJobRefused = -104,
    DataCommandRefused = -105,
    DataRefused = -107,
    ControlFileRefused = -108,
};

inline int Code(TLpdResult result)
{
    return static_cast<int>(result);
}

// The FTP failover follows an LPD failure only when a printer was reached:
// one that cannot be connected to at all would not take port 9100 or FTP.
inline bool FailoverApplies(TLpdResult result)
{
    return result != TLpdResult::Delivered && result != TLpdResult::NoConnection;
}

class TsbLPD {
public:
    TsbLPD();

    // The next job number; the control file is made anew by Send.
    void NextJob();
    // What the delivery came to; fails instead (with Detail set) when a
    // socket error broke off the exchange of a command, the control file or
    // an acknowledgement.
    TResult<TLpdResult> Send(const std::string& host, const std::string& queue, const std::string& user,
                             const std::string& machine, const std::string& domain, std::istream& data);

    std::string JobNumber() const;
    // The status text of a step the printer took.
    static constexpr const char* kTaken = "+OK";
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

    // How a printer answered a step: taken, refused (with the answer byte in
    // StatusText),
    // or not at all before the connection was lost; or the printer stopped
    // taking the data with the connection left open.
    enum class TAck { Taken, Refused, Lost, Stalled };

    // A command of a step sent: Delivered to go on, the step's code when the
    // connection was closed before, or the socket error of the write.
    TResult<TLpdResult> SendStep(const std::string& text, TLpdResult code, const char* status);
    // The data file's size bytes; false when they did not all go out (or
    // could not all be read).
    bool SendData(std::istream& data, std::streamoff size);
    // Asks for the answer to a step. Answers still owed to earlier steps are
    // read first; a refusal is reported with the step it answers (FRefused).
    TResult<TAck> ReadAck(TStep step);
    // The result after the job's last byte: delivered, refused or lost.
    TResult<TAck> ReadFinalAck();
    static TLpdResult RefusalCode(TStep step);
    static const char* StepName(TStep step);
    TLpdResult Failed(TLpdResult code, const std::string& status, const std::string& detail);
    // The result of a step that was not taken: its refusal, or the asking
    // step's code when the printer went away without answering.
    TLpdResult NotTaken(TAck ack, TLpdResult lostCode);
    // The printer's answer to a step: Delivered to go on, else as NotTaken.
    TResult<TLpdResult> AnswerTo(TStep step, TLpdResult lostCode);
    // A step's result that ends the conversation: a failure, or not Delivered.
    static bool Ends(const TResult<TLpdResult>& step) { return !step || *step != TLpdResult::Delivered; }
    // The whole conversation after the connect.
    TResult<TLpdResult> Converse(const std::string& queue, const std::string& hostPart, const std::string& number,
                                 std::istream& data);

    std::deque<TStep> FOwed;      // asked, not answered yet
    bool FAnswering = false;      // the printer has answered in this job
    bool FFinalAnswered = false;  // the answer to the job's end has come
    TStep FRefused = TStep::ReceiveJob;
};
