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

TResult<TLpdResult> TsbLPD::SendStep(const std::string& text, TLpdResult code, const char* status)
{
    if (!Client.Connected())
        return Failed(code, status, "the connection was closed");
    if (const TOutcome written = Client.Write(text.data(), text.size()); !written)
        return written.Failure();
    return TLpdResult::Delivered;
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
    data.clear();
    data.seekg(0);
    char piece[1000];
    std::streamoff sent = 0;
    for (;;) {
        data.read(piece, sizeof piece);
        const std::streamsize got = data.gcount();
        if (got > 0)
            if (const TOutcome written = Client.Write(piece, static_cast<std::size_t>(got)); !written) {
                Detail = Client.Endpoint() + ": " + OneLine(written.Reason());
                return false;
            }
        sent += got;
        Pause(delay);
        if (got < static_cast<std::streamsize>(sizeof piece))
            break;
    }
    if (sent != size) {
        // The printer was told size bytes; fewer would end the job early.
        Detail = Client.Endpoint() + ": only " + std::to_string(sent) + " of the data file's " + std::to_string(size) +
                 " bytes could be read";
        return false;
    }
    return true;
}

TResult<TsbLPD::TAck> TsbLPD::ReadAck(TStep step)
{
    FOwed.push_back(step);
    StatusText.clear();
    if (!Client.Connected())
        return TAck::Lost;
    while (!FOwed.empty()) {
        // The first answer may take a while; after that a printer that has
        // answered is waited for, one that has not is only polled.
        // The last answer of a printer that has not answered yet is given the
        // first answer's wait too: a late refusal is not a silent delivery.
        const bool waitFor = step == TStep::ReceiveJob || step == TStep::DataEnd;
        const int wait = FAnswering ? AckWaitMs : (waitFor ? FirstAckWaitMs : 1);
        if (!Client.Readable(wait))
            break;
        const TResult<unsigned char> read = Client.ReadByte();
        if (!read)
            return read.Failure();
        const unsigned char byte = *read;
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

TResult<TsbLPD::TAck> TsbLPD::ReadFinalAck()
{
    // Whether every byte of the job reached the printer's side, asked before
    // reading can notice a close and let the socket go.
    const bool arrived = Client.WaitAllAcknowledged(Client.TransferTimeoutMs);
    if (Client.Stalled())
        return TAck::Stalled;
    const bool broken = Client.Broken();
    const TResult<TAck> ack = ReadAck(TStep::DataEnd);
    if (!ack || *ack == TAck::Refused)
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

TResult<TLpdResult> TsbLPD::AnswerTo(TStep step, TLpdResult lostCode)
{
    const TResult<TAck> ack = ReadAck(step);
    if (!ack)
        return ack.Failure();
    if (*ack != TAck::Taken)
        return NotTaken(*ack, lostCode);
    return TLpdResult::Delivered;
}

TResult<TLpdResult> TsbLPD::Send(const std::string& host, const std::string& queue, const std::string& user,
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
    if (const TOutcome connected = Client.Connect(); !connected) {
        Client.Disconnect();
        return Failed(TLpdResult::NoConnection, "-3 Could not connect to Printer.", OneLine(connected.Reason()));
    }
    TDisconnect disconnect {Client};
    TResult<TLpdResult> result = Converse(queue, hostPart, number, data);
    if (!result)
        Detail = Client.Endpoint() + ": " + OneLine(result.Reason());
    return result;
}

TResult<TLpdResult> TsbLPD::Converse(const std::string& queue, const std::string& hostPart, const std::string& number,
                                     std::istream& data)
{
    Pause(100);
    TResult<TLpdResult> step =
        SendStep("\x02" + queue + "\n", TLpdResult::QueueCommandNotSent, "-4 Printer queue header failed to send");
    if (!Ends(step))
        step = AnswerTo(TStep::ReceiveJob, TLpdResult::ReceiveJobRefused);
    if (Ends(step))
        return step;

    step = SendStep("\x02" + std::to_string(ControlText.size()) + " cfA" + number + hostPart + "\n",
                    TLpdResult::ControlCommandNotSent, "-8 Control File header failed to send");
    if (!Ends(step))
        step = AnswerTo(TStep::ControlHeader, TLpdResult::ControlFileRefused);
    if (Ends(step))
        return step;
    Pause(500);
    step = SendStep(ControlText, TLpdResult::ControlFileNotSent, "-9 Control File failed to send");
    if (!Ends(step))
        step = SendStep(std::string(1, '\0'), TLpdResult::ControlFileNotSent, "-9 Control File failed to send");
    if (Ends(step))
        return step;
    // The control file's own answer is read, not judged; a late refusal of
    // an earlier step read here still ends the job.
    const TResult<TAck> control = ReadAck(TStep::ControlFile);
    if (!control)
        return control.Failure();
    if (*control == TAck::Refused)
        return NotTaken(TAck::Refused, TLpdResult::ControlFileRefused);

    data.clear();
    data.seekg(0, std::ios::end);
    const std::streamoff size = data.tellg();
    data.seekg(0);
    if (size < 0 || !data)
        return Failed(TLpdResult::DataCommandNotSent, "-5 Data File header failed to send",
                      "the data file cannot be read");
    step = SendStep("\x03" + std::to_string(size) + " dfA" + number + hostPart + "\n", TLpdResult::DataCommandNotSent,
                    "-5 Data File header failed to send");
    if (Ends(step))
        return step;
    Pause(500);
    step = AnswerTo(TStep::DataHeader, TLpdResult::DataCommandRefused);
    if (Ends(step))
        return step;
    if (!SendData(data, size)) {
        StatusText = "-6 Data file failed to send";
        if (Detail.empty())
            Detail = Client.Endpoint() + ": the connection was closed";
        return TLpdResult::DataNotSent;
    }
    step = SendStep(std::string(1, '\0'), TLpdResult::DataEndNotSent, "-7 End of Data File marker failed to send");
    if (Ends(step))
        return step;
    Pause(500);
    const TResult<TAck> final = ReadFinalAck();
    if (!final)
        return final.Failure();
    if (*final != TAck::Taken)
        return NotTaken(*final, TLpdResult::DataRefused);
    return TLpdResult::Delivered;
}
