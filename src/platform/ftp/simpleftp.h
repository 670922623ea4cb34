// TSimpleFTP: the stand-in for the Windows Internet client library's FTP
// session, over libcurl: connect and log in, put one file into the server's
// current directory, the server's last reply.
#pragma once

#include "util/result.h"

#include <functional>
#include <memory>
#include <string>

typedef void CURL;

// The transfer library's handle, cleaned up when its owner goes.
struct TCurlCleanup {
    void operator()(CURL* curl) const;
};

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

    // The session's state; the numbers are those the state was known by.
    enum class TConnectionState { Disconnecting = 0, NoConnection = 1, Connecting = 2, Connected = 3, Resolving = 4, Resolved = 5 };
    TConnectionState ConnectionState = TConnectionState::NoConnection;

    // A failure says the transfer library's reason and the server's last
    // reply; one the server could not be reached for is an outage.
    TOutcome Connect();
    TOutcome PutFile(const std::string& localPath);
    void Disconnect();
    // The server's last reply, or "No error description available".
    std::string LastResponseInfo() const;

    // Runs while a transfer goes on (the window processes its events there);
    // Disconnect from inside it stops the transfer.
    std::function<void()> OnProgress;

private:
    friend struct TCurlCallbacks;
    std::string Url(const std::string& path) const;
    TFailure Failed(int result) const;
    std::unique_ptr<CURL, TCurlCleanup> FCurlOwner;
    CURL* FCurl = nullptr;  // FCurlOwner's handle
    std::string FLastResponse;
    bool FAbortRequested = false;
    bool FInTransfer = false;
};
