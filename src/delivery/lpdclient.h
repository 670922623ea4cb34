// TsbLPD: one printer file to a network printer by the line printer daemon
// protocol (RFC 1179 receive-job), with this system's conversation: polled
// acknowledgements, fixed pauses, a pause after every 1000 data bytes, and a
// result code per failing step.
#pragma once

#include "delivery/socketclient.h"

#include <cstdint>
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
    int Send(const std::string& host, const std::string& queue, const std::string& user, const std::string& machine,
             const std::string& domain, std::istream& data);

    std::string JobNumber() const;
    static std::string HostPart(const std::string& machine, const std::string& domain);

    TSocketClient Client;
    std::string ControlText;
    std::uint8_t JobCounter = 0;
    std::string StatusText;
    int DataDelay = 1;
    // Acknowledgements are polled for 1 ms; the first one, to the receive-job
    // command, gets longer, so that a server refusing the queue is heard.
    int FirstAckWaitMs = 1000;
    // A printer that has been answering gets this long for its last answer,
    // so that a connection it dropped is not taken for a delivery.
    int FinalAckWaitMs = 2000;
    // How the conversation pauses; the real clock unless replaced.
    std::function<void(int ms)> Pause;

private:
    bool SendText(const std::string& text);
    bool SendZero();
    bool SendData(std::istream& data);
    std::string ReadAck(int waitMs = 1);
    std::string ReadFinalAck();
    int FAcksAsked = 0;
    int FAcksSeen = 0;
};
