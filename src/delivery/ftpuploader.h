// The FTP failover of the LPR queue: a printer file raw to port 9100, and
// when that fails, an active-mode binary FTP upload into the server's current
// directory (TSimpleFTP).
#pragma once

#include "platform/ftp/simpleftp.h"
#include "platform/sockets/socketclient.h"

#include <functional>
#include <string>

// What the failover came to; the numbers are the ones the log and the tool
// print.
enum class TFtpResult : int {
    Delivered = 0,      // by port 9100 or by FTP
    NoDataFile = -1,    // the copy to send is not there
    ConnectFailed = -3, // not returned: a connect that fails is reported as the upload failing
    UploadFailed = -6,
};

inline int Code(TFtpResult result)
{
    return static_cast<int>(result);
}

class TsbprinterFTP {
public:
    TsbprinterFTP();

    [[nodiscard]] TFtpResult Send(const std::string& host, const std::string& file, const std::string& user, const std::string& password,
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
    // After a delivery: "raw" (port 9100) or "ftp", and the port it went to.
    std::string Route;
    int RoutePort = 0;

private:
    // The file raw to the printer's port 9100, taken whole.
    TOutcome SendRaw(const std::string& file);
};
