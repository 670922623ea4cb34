// The FTP failover of the LPR queue: a printer file raw to port 9100, and
// when that fails, an active-mode binary FTP upload into the server's current
// directory (TSimpleFTP).
#pragma once

#include "platform/ftp/simpleftp.h"
#include "platform/sockets/socketclient.h"

#include <functional>
#include <string>

class TsbprinterFTP {
public:
    TsbprinterFTP();

    // 0 delivered (by port 9100 or FTP), -1 no such file, -3 the FTP connect
    // raised an error, -6 the upload failed.
    [[nodiscard]] int Send(const std::string& host, const std::string& file, const std::string& user, const std::string& password,
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
