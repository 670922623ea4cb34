#include "spoolserver/spoolerlink.h"

#include "platform/sockets/wsaerror.h"
#include "util/textutil.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

TSpoolerLink::TSpoolerLink(TLogger& log, QObject* parent) : QObject(parent), FLog(log) {}

TSpoolerLink::~TSpoolerLink()
{
    Close();
}

std::string TSpoolerLink::SpoolServerEditExit(std::string_view address)
{
    if (!address.empty() && address.find(':') == std::string_view::npos)
        return "You must use the format\r\n <host>:<port> \r\n eg myServer:8222";
    return {};
}

void TSpoolerLink::PointAt(std::string_view address)
{
    if (address.empty())
        return;
    const std::string host = LowerCase(Trim(TextBefore(address, ":")));
    const std::string port = Trim(TextAfter(address, ":"));
    if (FConnected && (host != FHost || port != FPort))
        Close();
    FHost = host;
    FPort = port;
    FAddress = std::string(address);
}

void TSpoolerLink::Open()
{
    if (FAddress.empty() || FConnected)
        return;
    Close();  // an unfinished connect from an earlier attempt is dropped

    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(FHost.c_str(), FPort.empty() ? "0" : FPort.c_str(), &hints, &found);
    if (rc != 0) {
        SpoolerTcpClientError(WsaErrorFromResolver(rc));
        return;
    }
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (FFd < 0) {
        const int err = errno;
        ::freeaddrinfo(found);
        SpoolerTcpClientError(WsaErrorFromErrno(err));
        return;
    }
    const int result = ::connect(FFd, found->ai_addr, found->ai_addrlen);
    const int err = errno;
    ::freeaddrinfo(found);
    if (result == 0) {
        SpoolerTcpClientConnect();
        return;
    }
    if (err == EINPROGRESS) {
        // Not done at once: reported as "would block", as operators know it;
        // the connect may still finish, which is then reported as connected.
        SpoolerTcpClientError(10035);
        FWriteNotifier = std::make_unique<QSocketNotifier>(FFd, QSocketNotifier::Write);
        connect(FWriteNotifier.get(), &QSocketNotifier::activated, this, [this] { ConnectFinished(); });
        return;
    }
    Close();
    SpoolerTcpClientError(WsaErrorFromErrno(err));
}

void TSpoolerLink::ConnectFinished()
{
    FWriteNotifier.reset();
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(FFd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = errno;
    if (err != 0) {
        Close();
        SpoolerTcpClientError(WsaErrorFromErrno(err));
        return;
    }
    SpoolerTcpClientConnect();
}

void TSpoolerLink::Close()
{
    FReadNotifier.reset();
    FWriteNotifier.reset();
    if (FFd >= 0) {
        ::shutdown(FFd, SHUT_RDWR);
        ::close(FFd);
    }
    FFd = -1;
    FConnected = false;
}

void TSpoolerLink::SpoolerTcpClientConnect()
{
    FConnected = true;
    FReadNotifier = std::make_unique<QSocketNotifier>(FFd, QSocketNotifier::Read);
    connect(FReadNotifier.get(), &QSocketNotifier::activated, this, [this] { SpoolerTcpClientReceive(); });
    FLog.loginfo("Spooler Connection established to " + FAddress);
}

void TSpoolerLink::SpoolerTcpClientError(int wsaError)
{
    FLog.logerror("Spooler Socket error :" + std::to_string(wsaError));
}

void TSpoolerLink::SpoolerTcpClientReceive()
{
    char buf[4096];
    for (;;) {
        const ssize_t got = ::recv(FFd, buf, sizeof buf, 0);
        if (got > 0)
            continue;  // the link carries nothing the server acts on
        if (got == 0) {
            Close();  // the spooler server went away; the next "Update Now" reconnects
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            const int err = errno;
            Close();
            SpoolerTcpClientError(WsaErrorFromErrno(err));
        }
        return;
    }
}
