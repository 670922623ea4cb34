// The optional TCP link to a spooler server. Nothing is sent; anything that
// arrives is dropped. Connects and socket errors are reported in the log.
#pragma once

#include "util/logger.h"

#include <QObject>
#include <memory>
#include <string>
#include <string_view>

class QSocketNotifier;

class TSpoolerLink : public QObject {
    Q_OBJECT
public:
    explicit TSpoolerLink(TLogger& log, QObject* parent = nullptr);
    ~TSpoolerLink() override;

    // The Spooler Server field's check when it loses the focus: the message to
    // show, or empty text when the address is acceptable.
    static std::string SpoolServerEditExit(std::string_view address);

    // Points the link at "<host>:<port>", closing a connection to another
    // address first. An empty address leaves the link as it is.
    void PointAt(std::string_view address);
    // Opens the link when an address is set and it is not connected.
    void Open();
    void Close();

    bool Connected() const { return FConnected; }
    bool Pending() const { return FFd >= 0 && !FConnected; }
    const std::string& RemoteHost() const { return FHost; }
    const std::string& RemotePort() const { return FPort; }

private:
    void SpoolerTcpClientConnect();
    void SpoolerTcpClientError(int wsaError);
    void SpoolerTcpClientReceive();
    void ConnectFinished();

    TLogger& FLog;
    std::string FAddress;  // as entered, for the connected message
    std::string FHost;
    std::string FPort;
    int FFd = -1;
    bool FConnected = false;
    std::unique_ptr<QSocketNotifier> FReadNotifier;
    std::unique_ptr<QSocketNotifier> FWriteNotifier;
};
