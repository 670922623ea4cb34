#include "platform/ftp/simpleftp.h"

#include "util/codepage.h"
#include "util/fileutil.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

struct TCurlCallbacks {
    // Every reply line the server sends; the last one is what operators see.
    static int Debug(CURL*, curl_infotype type, char* data, size_t size, void* user)
    {
        if (type == CURLINFO_HEADER_IN) {
            std::string line(data, size);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                line.pop_back();
            if (!line.empty())
                static_cast<TSimpleFTP*>(user)->FLastResponse = line;
        }
        return 0;
    }
    static int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        auto* ftp = static_cast<TSimpleFTP*>(user);
        if (ftp->OnProgress)
            ftp->OnProgress();
        return ftp->FAbortRequested ? 1 : 0;
    }
    static size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }
};

void TCurlCleanup::operator()(CURL* curl) const
{
    curl_easy_cleanup(curl);
}

namespace {

const bool kCurlReady = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();

}  // namespace

std::string TSimpleFTP::Url(const std::string& path) const
{
    return "ftp://" + HostName + ":" + std::to_string(Port) + "/" + path;
}

TOutcome TSimpleFTP::Connect()
{
    if (ConnectionState == TConnectionState::Connected)
        return TOutcome::Done();
    if (!kCurlReady)
        return Fail("the transfer library could not be started");
    FAbortRequested = false;
    FLastResponse.clear();
    ConnectionState = TConnectionState::Resolving;
    FCurlOwner.reset(curl_easy_init());
    FCurl = FCurlOwner.get();
    if (!FCurl) {
        ConnectionState = TConnectionState::NoConnection;
        return Fail("the transfer library could not be started");
    }
    curl_easy_setopt(FCurl, CURLOPT_VERBOSE, 1L);  // the reply lines reach Debug only in verbose mode
    curl_easy_setopt(FCurl, CURLOPT_DEBUGFUNCTION, &TCurlCallbacks::Debug);
    curl_easy_setopt(FCurl, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(FCurl, CURLOPT_STDERR, nullptr);
    curl_easy_setopt(FCurl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(FCurl, CURLOPT_XFERINFOFUNCTION, &TCurlCallbacks::Progress);
    curl_easy_setopt(FCurl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(FCurl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(FCurl, CURLOPT_USERNAME, ToUnicode(UserName).toStdString().c_str());
    curl_easy_setopt(FCurl, CURLOPT_PASSWORD, ToUnicode(Password).toStdString().c_str());
    curl_easy_setopt(FCurl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ConnectTimeout == 0 ? 300000 : ConnectTimeout));
    curl_easy_setopt(FCurl, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(std::max(1, StallTimeout / 1000)));
    curl_easy_setopt(FCurl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(FCurl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(std::max(1, StallTimeout / 1000)));
    if (!Passive) {
        curl_easy_setopt(FCurl, CURLOPT_FTPPORT, "-");
        curl_easy_setopt(FCurl, CURLOPT_ACCEPTTIMEOUT_MS, static_cast<long>(StallTimeout));
    }
    // Log in (and change to the remote directory) without a transfer.
    curl_easy_setopt(FCurl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(FCurl, CURLOPT_WRITEFUNCTION, &TCurlCallbacks::Discard);
    const std::string dir = RemoteDir.empty() ? std::string() : RemoteDir + (RemoteDir.back() == '/' ? "" : "/");
    curl_easy_setopt(FCurl, CURLOPT_URL, Url(dir).c_str());
    ConnectionState = TConnectionState::Connecting;
    CURLcode result = CURLE_COULDNT_CONNECT;
    for (int attempt = 0; attempt < std::max(1, ConnectRetries); ++attempt) {
        FInTransfer = true;
        result = curl_easy_perform(FCurl);
        FInTransfer = false;
        if (FAbortRequested)
            break;
        if (result != CURLE_COULDNT_CONNECT && result != CURLE_OPERATION_TIMEDOUT)
            break;
    }
    if (result != CURLE_OK || FAbortRequested) {
        const TFailure failure = Failed(result);
        FCurlOwner.reset();
        FCurl = nullptr;
        ConnectionState = TConnectionState::NoConnection;
        return failure;
    }
    ConnectionState = TConnectionState::Connected;
    return TOutcome::Done();
}

TOutcome TSimpleFTP::PutFile(const std::string& localPath)
{
    if (ConnectionState != TConnectionState::Connected || !FCurl)
        return Fail("not connected");
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> owner(std::fopen(NativePath(localPath).c_str(), "rb"),
                                                                 &std::fclose);
    std::FILE* file = owner.get();
    if (!file)
        return Fail(localPath + ": " + std::strerror(errno));
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    // Into the server's current directory, under the file's own name.
    const std::string dir = RemoteDir.empty() ? std::string() : RemoteDir + (RemoteDir.back() == '/' ? "" : "/");
    curl_easy_setopt(FCurl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(FCurl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(FCurl, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(FCurl, CURLOPT_READDATA, file);
    curl_easy_setopt(FCurl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    curl_easy_setopt(FCurl, CURLOPT_URL, Url(dir + ToUnicode(ExtractFileName(localPath)).toStdString()).c_str());
    FInTransfer = true;
    const CURLcode result = curl_easy_perform(FCurl);
    FInTransfer = false;
    if (result != CURLE_OK || FAbortRequested)
        return Failed(result);
    return TOutcome::Done();
}

void TSimpleFTP::Disconnect()
{
    if (FInTransfer) {
        // Called from inside a running transfer (the watchdog): stop it there;
        // the transfer's caller closes the handle when it returns.
        FAbortRequested = true;
    } else if (FCurl) {
        ConnectionState = TConnectionState::Disconnecting;
        FCurlOwner.reset();
        FCurl = nullptr;
    }
    ConnectionState = TConnectionState::NoConnection;
}

TFailure TSimpleFTP::Failed(int result) const
{
    const auto code = static_cast<CURLcode>(result);
    std::string why = FAbortRequested ? std::string("stopped") : std::string(curl_easy_strerror(code));
    if (!FLastResponse.empty())
        why += " (server: " + FLastResponse + ")";
    // A server that cannot be reached is down; what one that answered refused is the transfer's own.
    const bool unreachable = !FAbortRequested && (code == CURLE_COULDNT_CONNECT || code == CURLE_OPERATION_TIMEDOUT ||
                                                  code == CURLE_COULDNT_RESOLVE_HOST);
    return unreachable ? FailOutage(std::move(why)) : Fail(std::move(why));
}

std::string TSimpleFTP::LastResponseInfo() const
{
    return FLastResponse.empty() ? std::string("No error description available") : FLastResponse;
}
