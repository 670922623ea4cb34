#include "delivery/ftpuploader.h"

#include "util/codepage.h"
#include "util/fileutil.h"

#include <QFileInfo>

#include <fstream>

TsbprinterFTP::TsbprinterFTP()
{
    RawClient.Port = RawPort;
}

bool TsbprinterFTP::IsFree()
{
    if (RawClient.Connected())
        RawClient.Disconnect();
    return Ftp.ConnectionState == TSimpleFTP::TConnectionState::NoConnection;
}

TFtpResult TsbprinterFTP::Send(const std::string& host, const std::string& file, const std::string& user,
                        const std::string& password, const std::string& directory)
{
    Ftp.HostName = host;
    Ftp.UserName = user;
    Ftp.Password = password;
    Ftp.RemoteDir = directory;
    Route.clear();
    RoutePort = 0;
    // A file that cannot be read is a failure before anything is sent: an
    // empty transfer would look delivered.
    if (const TOutcome readable = CheckReadableFile(file); !readable) {
        StatusText = "-1 Data file does not exist.";
        Detail = readable.Reason();
        return TFtpResult::NoDataFile;
    }
    StatusText.clear();
    Detail.clear();

    // Raw to port 9100 first; its failure is not reported.
    RawClient.Host = host;
    RawClient.Port = RawPort;
    RawClient.UseNagle = false;
    const TOutcome raw = SendRaw(file);
    RawClient.Disconnect();
    if (raw) {
        Detail.clear();
        Route = "raw";
        RoutePort = RawClient.Port;
        return TFtpResult::Delivered;
    }
    std::string reason = raw.Reason();
    for (std::size_t at; (at = reason.find("\r\n")) != std::string::npos;)
        reason.replace(at, 2, ": ");
    Detail = "raw " + RawClient.Endpoint() + ": " + reason;
    const std::string ftpWhere = "; FTP " + host + ":" + std::to_string(Ftp.Port) + ": ";

    // A connect that fails makes the upload fail with its reason.
    TOutcome put = Ftp.Connect();
    if (put)
        put = Ftp.PutFile(file);
    TFtpResult result = TFtpResult::Delivered;
    if (!put) {
        StatusText = Ftp.LastResponseInfo();
        Detail += ftpWhere + put.Reason();
        result = TFtpResult::UploadFailed;
    }
    if (result == TFtpResult::Delivered) {
        Detail.clear();
        Route = "ftp";
        RoutePort = Ftp.Port;
    }
    Ftp.Disconnect();
    return result;
}

TOutcome TsbprinterFTP::SendRaw(const std::string& file)
{
    std::ifstream data(NativePath(file), std::ios::binary);
    const auto size = static_cast<std::uint64_t>(QFileInfo(QString::fromStdString(file)).size());
    if (const TOutcome connected = RawClient.Connect(); !connected)
        return connected;
    const TResult<std::uint64_t> written = RawClient.WriteStream(data, true);
    if (!written)
        return written.Failure();
    if (data.bad() || *written != size)
        return Fail("only " + std::to_string(*written) + " of " + file + "'s " + std::to_string(size) +
                    " bytes could be read");
    return RawClient.FinishSending(RawConfirmWaitMs);
}
