#include "delivery/lpdclient.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

// A socket error's text on one line: "Socket Error #10061: Connection refused."
std::string OneLine(std::string text)
{
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;)
        text.replace(at, 2, ": ");
    return text;
}

}  // namespace

TsbLPD::TsbLPD()
{
    Client.Port = 515;
    // Each command goes out at once: Nagle's algorithm would hold a short
    // write back until the printer's delayed acknowledgement.
    Client.UseNagle = false;
    // Sleeps overshoot by a fraction of a millisecond; over thousands of data
    // pauses that adds up, so the overshoot is taken off the next pauses.
    Pause = [overshoot = std::chrono::nanoseconds(0)](int ms) mutable {
        const auto wanted = std::chrono::nanoseconds(std::chrono::milliseconds(ms)) - overshoot;
        if (wanted <= std::chrono::nanoseconds(0)) {
            overshoot = -wanted;
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(wanted);
        overshoot = std::chrono::steady_clock::now() - start - wanted;
    };
}

void TsbLPD::NextJob()
{
    ++JobCounter;  // 255 wraps to 0
    ControlText.clear();
}

std::string TsbLPD::JobNumber() const
{
    const std::string number = "00" + std::to_string(JobCounter);
    return number.substr(number.size() - 3);
}

std::string TsbLPD::HostPart(const std::string& machine, const std::string& domain)
{
    std::string label = machine.empty() ? std::string("TovaORB.") : machine;
    if (label.back() != '.')
        label += '.';
    return label + (domain.empty() ? std::string("Scrib") : domain);
}

TLpdResult TsbLPD::RefusalCode(TStep step)
{
    switch (step) {
    case TStep::ReceiveJob: return TLpdResult::ReceiveJobRefused;
    case TStep::ControlHeader: return TLpdResult::ControlFileRefused;
    case TStep::ControlFile: return TLpdResult::Delivered;  // read, not judged
    case TStep::DataHeader: return TLpdResult::DataCommandRefused;
    case TStep::DataEnd: return TLpdResult::DataRefused;
    }
    return TLpdResult::DataRefused;
}

const char* TsbLPD::StepName(TStep step)
{
    switch (step) {
    case TStep::ReceiveJob: return "the receive-job command";
    case TStep::ControlHeader: return "the control file command";
    case TStep::ControlFile: return "the control file";
    case TStep::DataHeader: return "the data file command";
    case TStep::DataEnd: return "the data file";
    }
    return "";
}

TLpdResult TsbLPD::Failed(TLpdResult code, const std::string& status, const std::string& detail)
{
    StatusText = status;
    Detail = Client.Endpoint() + ": " + detail;
    return code;
}

bool TsbLPD::SendText(const std::string& text)
{
    if (!Client.Connected())
        return false;
    Client.Write(text.data(), text.size());
    return true;
}

bool TsbLPD::SendZero()
{
    return SendText(std::string(1, '\0'));
}

bool TsbLPD::SendData(std::istream& data, std::streamoff size)
{
    if (!Client.Connected())
        return false;
    const int delay = DataDelay > 1000 ? 1000 : (DataDelay < 0 ? 1 : DataDelay);
    // The pieces travel in full segments; the commands around them go at once.
    struct TCork {
        TSocketClient& Client;
        explicit TCork(TSocketClient& client) : Client(client) { Client.SetCorked(true); }
        ~TCork() { Client.SetCorked(false); }
    } cork {Client};
    try {
        data.clear();
        data.seekg(0);
        char piece[1000];
        std::streamoff sent = 0;
        for (;;) {
            data.read(piece, sizeof piece);
            const std::streamsize got = data.gcount();
            if (got > 0)
                Client.Write(piece, static_cast<std::size_t>(got));
            sent += got;
            Pause(delay);
            if (got < static_cast<std::streamsize>(sizeof piece))
                break;
        }
        if (sent != size) {
            // The printer was told size bytes; fewer would end the job early.
            Detail = Client.Endpoint() + ": only " + std::to_string(sent) + " of the data file's " +
                     std::to_string(size) + " bytes could be read";
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        Detail = Client.Endpoint() + ": " + OneLine(e.what());
        return false;
    }
}

TsbLPD::TAck TsbLPD::ReadAck(TStep step)
{
    FOwed.push_back(step);
    StatusText.clear();
    if (!Client.Connected())
        return TAck::Lost;
    while (!FOwed.empty()) {
        // The first answer may take a while; after that a printer that has
        // answered is waited for, one that has not is only polled.
        const int wait = FAnswering ? AckWaitMs : (step == TStep::ReceiveJob ? FirstAckWaitMs : 1);
        if (!Client.Readable(wait))
            break;
        const unsigned char byte = Client.ReadByte();
        TStep answered = FOwed.front();
        if (!FAnswering && byte != 0) {
            // A printer that never acknowledged anything refuses what it was
            // asked last.
            answered = FOwed.back();
            FOwed.clear();
        } else {
            FOwed.pop_front();
        }
        FAnswering = true;
        if (answered == TStep::DataEnd)
            FFinalAnswered = true;
        if (byte != 0 && answered != TStep::ControlFile) {
            FRefused = answered;
            StatusText = std::string(1, static_cast<char>(byte));
            return TAck::Refused;
        }
    }
    // A printer that closed the connection without answering may not have
    // taken what was sent.
    if (!Client.Connected() && !FOwed.empty())
        return TAck::Lost;
    StatusText = kTaken;
    return TAck::Taken;
}

TsbLPD::TAck TsbLPD::ReadFinalAck()
{
    // Whether every byte of the job reached the printer's side, asked before
    // reading can notice a close and let the socket go.
    const bool arrived = Client.WaitAllAcknowledged(Client.TransferTimeoutMs);
    if (Client.Stalled())
        return TAck::Stalled;
    const bool broken = Client.Broken();
    const TAck ack = ReadAck(TStep::DataEnd);
    if (ack == TAck::Refused)
        return ack;
    // Delivered: the printer acknowledged the job, or it never answers and
    // took every byte, whether it then closed in order or stays open.
    const bool silentDelivery = !FAnswering && arrived && !broken && !Client.Broken();
    const bool answeredDelivery = FFinalAnswered || (FAnswering && Client.Connected() && arrived);
    if (silentDelivery || answeredDelivery) {
        StatusText = kTaken;
        return TAck::Taken;
    }
    StatusText.clear();
    return TAck::Lost;
}

TLpdResult TsbLPD::NotTaken(TAck ack, TLpdResult lostCode)
{
    if (ack == TAck::Stalled) {
        // Still connected, not reading: the data did not all go out.
        StatusText = "-6 Data file failed to send";
        Detail = Client.Endpoint() + ": " + Client.StallText(Client.TransferTimeoutMs);
        return TLpdResult::DataNotSent;
    }
    if (ack == TAck::Lost) {
        Detail = Client.Endpoint() + ": the printer closed the connection (" + (Client.Broken() ? "reset" : "in order") +
                 ") before its answer";
        return lostCode;
    }
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(StatusText[0]));
    Detail = Client.Endpoint() + ": the printer refused " + StepName(FRefused) + " (answer " + byte + ")";
    return RefusalCode(FRefused);
}

TLpdResult TsbLPD::Send(const std::string& host, const std::string& queue, const std::string& user,
                        const std::string& machine, const std::string& domain, std::istream& data)
{
    struct TDisconnect {
        TSocketClient& Client;
        ~TDisconnect() { Client.Disconnect(); }
    };
    Client.Host = host;
    Detail.clear();
    FOwed.clear();
    FAnswering = false;
    FFinalAnswered = false;
    const std::string hostPart = HostPart(machine, domain);
    const std::string number = JobNumber();
    ControlText = "H" + hostPart + "\n" + "P" + user + "\n" + "fdfA" + number + hostPart + "\n" + "UdfA" + number +
                  hostPart + "\n";
    try {
        Client.Connect();
    } catch (const std::exception& e) {
        Client.Disconnect();
        return Failed(TLpdResult::NoConnection, "-3 Could not connect to Printer.", OneLine(e.what()));
    }
    TDisconnect disconnect {Client};
    try {
        return Converse(queue, hostPart, number, data);
    } catch (const ESocketError& e) {
        Detail = Client.Endpoint() + ": " + OneLine(e.what());
        throw;
    }
}

TLpdResult TsbLPD::Converse(const std::string& queue, const std::string& hostPart, const std::string& number,
                            std::istream& data)
{
    constexpr const char* kClosed = "the connection was closed";
    Pause(100);
    if (!SendText("\x02" + queue + "\n"))
        return Failed(TLpdResult::QueueCommandNotSent, "-4 Printer queue header failed to send", kClosed);
    if (const TAck ack = ReadAck(TStep::ReceiveJob); ack != TAck::Taken)
        return NotTaken(ack, TLpdResult::ReceiveJobRefused);

    if (!SendText("\x02" + std::to_string(ControlText.size()) + " cfA" + number + hostPart + "\n"))
        return Failed(TLpdResult::ControlCommandNotSent, "-8 Control File header failed to send", kClosed);
    if (const TAck ack = ReadAck(TStep::ControlHeader); ack != TAck::Taken)
        return NotTaken(ack, TLpdResult::ControlFileRefused);
    Pause(500);
    if (!SendText(ControlText) || !SendZero())
        return Failed(TLpdResult::ControlFileNotSent, "-9 Control File failed to send", kClosed);
    // The control file's own answer is read, not judged; a late refusal of
    // an earlier step read here still ends the job.
    if (ReadAck(TStep::ControlFile) == TAck::Refused)
        return NotTaken(TAck::Refused, TLpdResult::ControlFileRefused);

    data.clear();
    data.seekg(0, std::ios::end);
    const std::streamoff size = data.tellg();
    data.seekg(0);
    if (size < 0 || !data)
        return Failed(TLpdResult::DataCommandNotSent, "-5 Data File header failed to send",
                      "the data file cannot be read");
    if (!SendText("\x03" + std::to_string(size) + " dfA" + number + hostPart + "\n"))
        return Failed(TLpdResult::DataCommandNotSent, "-5 Data File header failed to send", kClosed);
    Pause(500);
    if (const TAck ack = ReadAck(TStep::DataHeader); ack != TAck::Taken)
        return NotTaken(ack, TLpdResult::DataCommandRefused);
    if (!SendData(data, size)) {
        StatusText = "-6 Data file failed to send";
        if (Detail.empty())
            Detail = Client.Endpoint() + ": " + kClosed;
        return TLpdResult::DataNotSent;
    }
    if (!SendZero())
        return Failed(TLpdResult::DataEndNotSent, "-7 End of Data File marker failed to send", kClosed);
    Pause(500);
    if (const TAck ack = ReadFinalAck(); ack != TAck::Taken)
        return NotTaken(ack, TLpdResult::DataRefused);
    return TLpdResult::Delivered;
}
