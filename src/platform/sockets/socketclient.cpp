#include "platform/sockets/socketclient.h"

#include "platform/sockets/wsaerror.h"
#include "util/textutil.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

std::string SocketErrorMessage(int number)
{
    return "Socket Error #" + std::to_string(number) + "\r\n" + WsaErrorText(number);
}

TFailure SocketFailure(int number)
{
    switch (number) {
    case 10050:  // the network is down
    case 10051:  // or cannot reach the printer's
    case 10052:
    case 10053:  // the connection went away
    case 10054:
    case 10057:
    case 10058:
    case 10060:  // the printer does not answer
    case 10061:  // or refuses the connection
    case 10064:
    case 10065:
    case 11002:  // the name server does not answer now
        return FailOutage(SocketErrorMessage(number));
    default: return Fail(SocketErrorMessage(number));
    }
}

namespace {

TResult<in_addr> ResolveHost(const std::string& name)
{
    in_addr address {};
    if (SameText(name, "LOCALHOST")) {
        address.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    if (::inet_pton(AF_INET, name.c_str(), &address) == 1)
        return address;
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found)
        return SocketFailure(WsaErrorFromResolver(rc != 0 ? rc : EAI_NONAME));
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return address;
}

// The socket connected to the address within the time-out, its sends and
// receives bounded by the transfer time-out.
TOutcome ConnectSocket(int fd, in_addr host, int port, int connectTimeoutMs, int transferTimeoutMs)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr = host;
    // Connect without blocking, then wait at most the connect time-out.
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS)
            return SocketFailure(WsaErrorFromErrno(errno));
        pollfd p {fd, POLLOUT, 0};
        int ready;
        do
            ready = ::poll(&p, 1, connectTimeoutMs);
        while (ready < 0 && errno == EINTR);
        if (ready == 0)
            return SocketFailure(10060);
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0)
            return SocketFailure(WsaErrorFromErrno(error));
    }
    ::fcntl(fd, F_SETFL, flags);
    timeval limit {transferTimeoutMs / 1000, (transferTimeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return TOutcome::Done();
}

}  // namespace

TOutcome TSocketClient::Connect()
{
    if (Connected())
        return Fail("Already connected.");
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Fail("Cannot allocate socket.");
    if (!UseNagle) {
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    const TResult<in_addr> resolved = ResolveHost(Host);
    const TOutcome connected = resolved ? ConnectSocket(fd, *resolved, Port, ConnectTimeoutMs, TransferTimeoutMs)
                                        : TOutcome(resolved.Failure());
    if (!connected) {
        ::close(fd);
        return connected;
    }
    FSocket = fd;
    FBuffer.clear();
    FBroken = false;
    FStalled = false;
    FWritten = 0;
    FAcked = 0;
    FLastProgress = std::chrono::steady_clock::now();
    return TOutcome::Done();
}

void TSocketClient::Disconnect()
{
    if (FSocket >= 0) {
        ::shutdown(FSocket, SHUT_RDWR);
        ::close(FSocket);
    }
    FSocket = -1;
    FBuffer.clear();
}

TOutcome TSocketClient::Write(const void* buffer, std::size_t count)
{
    if (!Connected())
        return Fail("Socket is closed, cannot write");
    const auto* bytes = static_cast<const char*>(buffer);
    std::size_t sent = 0;
    while (sent < count) {
        const ssize_t n = ::send(FSocket, bytes + sent, count - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // The send time-out: the peer took nothing for that long.
                FStalled = true;
                return Stall();
            }
            int number = WsaErrorFromErrno(errno == EAGAIN ? ETIMEDOUT : errno);
            if (number == 10058 || number == 10053 || number == 10054) {
                Disconnect();
                if (number != 10054)
                    number = 10058;
            }
            return SocketFailure(number);
        }
        if (n == 0) {
            // The peer took nothing: it has gone; the next write fails.
            Disconnect();
            return SocketFailure(10058);
        }
        sent += static_cast<std::size_t>(n);
        FWritten += static_cast<std::uint64_t>(n);
    }
    return CheckProgress();
}

std::uint64_t TSocketClient::Acknowledged()
{
    int unacknowledged = 0;
    if (!Connected() || ::ioctl(FSocket, SIOCOUTQ, &unacknowledged) != 0 || unacknowledged < 0)
        return FAcked;
    const std::uint64_t acked = FWritten - std::min<std::uint64_t>(FWritten, static_cast<std::uint64_t>(unacknowledged));
    if (acked > FAcked || unacknowledged == 0) {
        FAcked = acked;
        FLastProgress = std::chrono::steady_clock::now();
    }
    return FAcked;
}

TOutcome TSocketClient::CheckProgress()
{
    // Kernel buffers take megabytes before a send blocks: a printer that
    // stopped reading shows first as acknowledgements that stop coming.
    Acknowledged();
    if (FAcked < FWritten &&
        std::chrono::steady_clock::now() - FLastProgress >= std::chrono::milliseconds(TransferTimeoutMs)) {
        FStalled = true;
        return Stall();
    }
    return TOutcome::Done();
}

TFailure TSocketClient::Stall()
{
    return FailOutage(StallText(TransferTimeoutMs));
}

std::string TSocketClient::StallText(int stallMs) const
{
    const int seconds = (stallMs + 999) / 1000;
    return "no progress for " + std::to_string(seconds) + " s (" + std::to_string(FAcked) + " of " +
           std::to_string(FWritten) + " bytes taken)";
}

void TSocketClient::SetCorked(bool corked)
{
    if (!Connected())
        return;
    const int on = corked ? 1 : 0;
    ::setsockopt(FSocket, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
}

TResult<std::uint64_t> TSocketClient::WriteStream(std::istream& stream, bool fromStart)
{
    std::uint64_t total = 0;
    if (fromStart) {
        stream.clear();
        stream.seekg(0);
    }
    char piece[8192];
    while (stream) {
        stream.read(piece, sizeof piece);
        const std::streamsize got = stream.gcount();
        if (got > 0)
            if (const TOutcome written = Write(piece, static_cast<std::size_t>(got)); !written)
                return written.Failure();
        total += static_cast<std::uint64_t>(std::max<std::streamsize>(got, 0));
    }
    return total;
}

bool TSocketClient::FillBuffer(int waitMs)
{
    if (!Connected())
        return false;
    pollfd p {FSocket, POLLIN, 0};
    int ready;
    do
        ready = ::poll(&p, 1, waitMs);
    while (ready < 0 && errno == EINTR);
    if (ready <= 0)
        return false;
    char chunk[4096];
    const ssize_t n = ::recv(FSocket, chunk, sizeof chunk, 0);
    if (n <= 0) {
        // The peer closed (or broke) the connection. A reset that came after
        // its close shows only as the socket's pending error.
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(FSocket, SOL_SOCKET, SO_ERROR, &error, &length);
        FBroken = n < 0 || error != 0;
        Disconnect();
        return false;
    }
    FBuffer.append(chunk, static_cast<std::size_t>(n));
    return true;
}

bool TSocketClient::Readable(int waitMs)
{
    if (!FBuffer.empty())
        return true;
    return FillBuffer(waitMs < 0 ? -1 : waitMs);
}

TResult<unsigned char> TSocketClient::ReadByte()
{
    while (FBuffer.empty()) {
        if (!Connected())
            return SocketFailure(10057);
        if (!FillBuffer(TransferTimeoutMs) && FBuffer.empty())
            return SocketFailure(Connected() ? 10060 : 10054);
    }
    const auto byte = static_cast<unsigned char>(FBuffer.front());
    FBuffer.erase(0, 1);
    return byte;
}

bool TSocketClient::WaitAllAcknowledged(int stallMs)
{
    if (!Connected())
        return false;
    FLastProgress = std::chrono::steady_clock::now();
    for (;;) {
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(FSocket, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) {
            FBroken = true;
            return false;
        }
        if (Acknowledged() >= FWritten)
            return true;
        if (std::chrono::steady_clock::now() - FLastProgress >= std::chrono::milliseconds(stallMs)) {
            FStalled = true;
            return false;
        }
        ::poll(nullptr, 0, 5);
    }
}

TOutcome TSocketClient::FinishSending(int waitMs)
{
    if (!Connected())
        return SocketFailure(10057);
    // Delivered means taken: a peer that stopped reading is a time-out.
    if (!WaitAllAcknowledged(TransferTimeoutMs)) {
        if (FStalled)
            return Stall();
        Disconnect();
        return SocketFailure(10054);
    }
    ::shutdown(FSocket, SHUT_WR);
    pollfd p {FSocket, POLLIN, 0};
    for (;;) {
        int ready;
        do
            ready = ::poll(&p, 1, waitMs);
        while (ready < 0 && errno == EINTR);
        // The printer keeps the connection open: nothing more to learn.
        if (ready <= 0)
            return TOutcome::Done();
        char chunk[512];
        const ssize_t n = ::recv(FSocket, chunk, sizeof chunk, 0);
        if (n == 0)
            return TOutcome::Done();
        if (n < 0) {
            const int number = WsaErrorFromErrno(errno);
            Disconnect();
            return SocketFailure(number);
        }
    }
}
