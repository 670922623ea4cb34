// A blocking TCP client over IPv4 for the printer connections (LPD on 515,
// raw on 9100). A failure's reason is the Windows sockets error number and
// text that operators know from the log; a peer that cannot be reached, or
// that went away, is an outage.
#pragma once

#include "util/result.h"

#include <chrono>
#include <cstdint>
#include <istream>
#include <string>

// "Socket Error #" + number + CR LF + the number's text.
std::string SocketErrorMessage(int number);
// The failure of that socket error number, with SocketErrorMessage as its reason.
TFailure SocketFailure(int number);

class TSocketClient {
public:
    TSocketClient() = default;
    ~TSocketClient() { Disconnect(); }
    TSocketClient(const TSocketClient&) = delete;
    TSocketClient& operator=(const TSocketClient&) = delete;

    std::string Host;
    int Port = 0;
    int BufferChunk = 8192;
    bool UseNagle = true;
    // Bounds on a connect, and on a send or receive that makes no progress,
    // so a dead printer cannot hold the server for ever.
    int ConnectTimeoutMs = 20000;
    int TransferTimeoutMs = 60000;

    TOutcome Connect();
    void Disconnect();
    bool Connected() const { return FSocket >= 0; }
    // "host:port", for messages that say where a failure happened.
    std::string Endpoint() const { return Host + ":" + std::to_string(Port); }
    // The last receive failed with an error (a reset), not an orderly close.
    bool Broken() const { return FBroken; }
    TOutcome Write(const void* buffer, std::size_t count);
    // While corked, small writes are gathered into full segments; uncorking
    // sends what waits at once.
    void SetCorked(bool corked);
    // The bytes written.
    TResult<std::uint64_t> WriteStream(std::istream& stream, bool fromStart);
    bool Readable(int waitMs);
    TResult<unsigned char> ReadByte();
    // Ends the sending side and waits (at most waitMs) for the peer to close
    // its side; fails when the peer broke the connection instead, which
    // shows that not everything written arrived.
    TOutcome FinishSending(int waitMs);
    // Waits until the peer's side has acknowledged every byte written, for
    // as long as it keeps taking them: false when it took nothing for stallMs
    // (Stalled() then tells so), or the connection broke.
    bool WaitAllAcknowledged(int stallMs);
    // The peer stopped taking what was written (WaitAllAcknowledged gave up).
    bool Stalled() const { return FStalled; }
    // "no progress for 5 s (N of M bytes taken)", for messages.
    std::string StallText(int stallMs) const;

private:
    bool FillBuffer(int waitMs);
    // Bytes written that the peer's side has acknowledged; notes progress.
    std::uint64_t Acknowledged();
    // Fails when nothing written was taken for the transfer time-out
    // although bytes wait.
    TOutcome CheckProgress();
    // Nothing written was taken for the transfer time-out (a time-out, 10060,
    // saying what was taken so far).
    TFailure Stall();
    int FSocket = -1;
    std::string FBuffer;
    bool FBroken = false;
    bool FStalled = false;
    std::uint64_t FWritten = 0;
    std::uint64_t FAcked = 0;
    std::chrono::steady_clock::time_point FLastProgress;
};
