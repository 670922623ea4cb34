// The FTP failover of the LPR queue: a printer file raw to port 9100, and
// when that fails, an active-mode binary FTP upload into the server's current
// directory. TSimpleFTP stands in for the Windows Internet client library.
#pragma once

#include "delivery/socketclient.h"

#include <functional>
#include <string>

typedef void CURL;

class TSimpleFTP {
public:
    TSimpleFTP() = default;
    ~TSimpleFTP() { Disconnect(); }
    TSimpleFTP(const TSimpleFTP&) = delete;
    TSimpleFTP& operator=(const TSimpleFTP&) = delete;

    std::string HostName;
    std::string UserName;
    std::string Password;
    std::string RemoteDir;
    int Port = 21;
    bool Passive = false;
    int ConnectTimeout = 300000;  // ms; 0 means 300000
    int ConnectRetries = 3;
    // A transfer that moves no byte for this long is given up (ms).
    int StallTimeout = 60000;

    // 0 disconnecting, 1 no connection, 2 connecting, 3 connected, 4 resolving, 5 resolved.
    int ConnectionState = 1;

    bool Connect();
    bool PutFile(const std::string& localPath);
    void Disconnect();
    // The server's last reply, or "No error description available".
    std::string LastResponseInfo() const;
    // Why the last connect or upload failed: the transfer library's reason
    // and the server's last reply.
    const std::string& LastError() const { return FLastError; }

    // Runs while a transfer goes on (the window processes its events there);
    // Disconnect from inside it stops the transfer.
    std::function<void()> OnProgress;

private:
    friend struct TCurlCallbacks;
    std::string Url(const std::string& path) const;
    void NoteFailure(int result);
    CURL* FCurl = nullptr;
    std::string FLastResponse;
    std::string FLastError;
    bool FAbortRequested = false;
    bool FInTransfer = false;
};

class TsbprinterFTP {
public:
    TsbprinterFTP();

    // 0 delivered (by port 9100 or FTP), -1 no such file, -3 the FTP connect
    // raised an error, -6 the upload failed.
    int Send(const std::string& host, const std::string& file, const std::string& user, const std::string& password,
             const std::string& directory);
    bool IsFree();
    void Abort() { Ftp.Disconnect(); }

    TSimpleFTP Ftp;
    TSocketClient RawClient;
    int RawPort = 9100;
    // How long the raw route waits for the printer to close after the data.
    int RawConfirmWaitMs = 5000;
    std::string StatusText;
    // Which routes failed, where and why; empty after a delivery.
    std::string Detail;
};
