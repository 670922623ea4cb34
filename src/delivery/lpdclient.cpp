#include "delivery/lpdclient.h"

#include <chrono>
#include <thread>

TsbLPD::TsbLPD()
{
    Client.Port = 515;
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

std::string TsbLPD::ReadFinalAck()
{
    ++FAcksAsked;
    if (!Client.Connected())
        return {};
    // Acknowledgements polled too early are still waiting: read them all,
    // and wait for the last one from a printer that answers at all.
    std::string answers;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        while (Client.Readable(answers.empty() ? 1 : 0))
            answers += static_cast<char>(Client.ReadByte());
        const int seen = FAcksSeen + static_cast<int>(answers.size());
        const auto waited = std::chrono::steady_clock::now() - start;
        if (seen == 0 || seen >= FAcksAsked || !Client.Connected() ||
            waited > std::chrono::milliseconds(FinalAckWaitMs))
            break;
        Client.Readable(50);
    }
    FAcksSeen += static_cast<int>(answers.size());
    for (char byte : answers)
        if (byte != 0)
            return std::string(1, byte);
    if (Client.Broken() || (!Client.Connected() && FAcksSeen < FAcksAsked))
        return {};  // dropped before the last answer: what was sent may not have arrived
    return "+OK";
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

bool TsbLPD::SendData(std::istream& data)
{
    if (!Client.Connected())
        return false;
    const int delay = DataDelay > 1000 ? 1000 : (DataDelay < 0 ? 1 : DataDelay);
    try {
        data.clear();
        data.seekg(0);
        char piece[1000];
        for (;;) {
            data.read(piece, sizeof piece);
            const std::streamsize got = data.gcount();
            if (got > 0)
                Client.Write(piece, static_cast<std::size_t>(got));
            Pause(delay);
            if (got < static_cast<std::streamsize>(sizeof piece))
                return true;
        }
    } catch (const std::exception&) {
        return false;
    }
}

std::string TsbLPD::ReadAck(int waitMs)
{
    ++FAcksAsked;
    if (!Client.Connected())
        return {};
    if (Client.Readable(waitMs)) {
        const unsigned char byte = Client.ReadByte();
        ++FAcksSeen;
        if (byte != 0)
            return std::string(1, static_cast<char>(byte));
    } else if (!Client.Connected()) {
        // The printer closed the connection without answering: what was sent
        // may not have arrived, so this is no success (the file stays queued).
        return {};
    }
    return "+OK";
}

int TsbLPD::Send(const std::string& host, const std::string& queue, const std::string& user,
                 const std::string& machine, const std::string& domain, std::istream& data)
{
    struct TDisconnect {
        TSocketClient& Client;
        ~TDisconnect() { Client.Disconnect(); }
    };
    Client.Host = host;
    const std::string hostPart = HostPart(machine, domain);
    const std::string number = JobNumber();
    ControlText = "H" + hostPart + "\n" + "P" + user + "\n" + "fdfA" + number + hostPart + "\n" + "UdfA" + number +
                  hostPart + "\n";
    try {
        Client.Connect();
    } catch (const std::exception&) {
        Client.Disconnect();
        StatusText = "-3 Could not connect to Printer.";
        return -3;
    }
    TDisconnect disconnect {Client};
    FAcksAsked = 0;
    FAcksSeen = 0;
    Pause(100);
    if (!SendText("\x02" + queue + "\n")) {
        StatusText = "-4 Printer queue header failed to send";
        return -4;
    }
    StatusText = ReadAck(FirstAckWaitMs);
    if (StatusText != "+OK")
        return -104;
    if (!SendText("\x02" + std::to_string(ControlText.size()) + " cfA" + number + hostPart + "\n")) {
        StatusText = "-8 Control File header failed to send";
        return -8;
    }
    StatusText = ReadAck();
    if (StatusText != "+OK")
        return -108;
    Pause(500);
    if (!SendText(ControlText) || !SendZero()) {
        StatusText = "-9 Control File failed to send";
        return -9;
    }
    StatusText = ReadAck();  // read, not judged

    data.clear();
    data.seekg(0, std::ios::end);
    const std::streamoff size = data.tellg();
    data.seekg(0);
    if (!SendText("\x03" + std::to_string(size < 0 ? 0 : size) + " dfA" + number + hostPart + "\n")) {
        StatusText = "-5 Data File header failed to send";
        return -5;
    }
    Pause(500);
    StatusText = ReadAck();
    if (StatusText != "+OK")
        return -105;
    if (!SendData(data)) {
        StatusText = "-6 Data file failed to send";
        return -6;
    }
    if (!SendZero()) {
        StatusText = "-7 End of Data File marker failed to send";
        return -7;
    }
    Pause(500);
    StatusText = ReadFinalAck();
    if (StatusText != "+OK")
        return -107;
    return 0;
}
