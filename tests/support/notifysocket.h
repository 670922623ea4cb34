// systemd's end of NOTIFY_SOCKET, for the tests and the benchmarks that run
// printorbd as the service manager would: one datagram per message, each
// kept with the time it came, in milliseconds since the socket was made.
// Header-only and without Qt, so a benchmark can use it too.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

class TNotifySocket {
public:
    struct TMessage {
        long long At = 0;
        std::string Text;
    };

    explicit TNotifySocket(const std::string& path) : FPath(path), FStart(std::chrono::steady_clock::now())
    {
        FFd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        if (FFd < 0 || path.size() >= sizeof address.sun_path)
            return;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        FBound = ::bind(FFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~TNotifySocket()
    {
        if (FFd >= 0)
            ::close(FFd);
        ::unlink(FPath.c_str());
    }
    TNotifySocket(const TNotifySocket&) = delete;
    TNotifySocket& operator=(const TNotifySocket&) = delete;

    bool Bound() const { return FBound; }
    const std::string& Path() const { return FPath; }

    const std::vector<TMessage>& Messages()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::recv(FFd, buffer, sizeof buffer, 0);
            if (got < 0)
                break;
            FMessages.push_back({ElapsedMs(), std::string(buffer, static_cast<std::size_t>(got))});
        }
        return FMessages;
    }

    // The messages with a line that is exactly field ("READY=1").
    std::vector<TMessage> With(const std::string& field)
    {
        std::vector<TMessage> found;
        for (const TMessage& message : Messages())
            if (("\n" + message.Text + "\n").find("\n" + field + "\n") != std::string::npos)
                found.push_back(message);
        return found;
    }

    // The value of the last KEY= line of any message, or "" when none had one.
    std::string Last(const std::string& key)
    {
        std::string value;
        for (const TMessage& message : Messages()) {
            const std::string text = "\n" + message.Text;
            if (const auto at = text.rfind("\n" + key + "="); at != std::string::npos) {
                const auto start = at + key.size() + 2;
                value = text.substr(start, text.find('\n', start) - start);
            }
        }
        return value;
    }

    // Waits until a message with a line that is exactly field has come.
    bool WaitFor(const std::string& field, int timeoutMs)
    {
        const long long until = ElapsedMs() + timeoutMs;
        while (With(field).empty()) {
            const long long left = until - ElapsedMs();
            if (left <= 0)
                return false;
            pollfd fd {FFd, POLLIN, 0};
            ::poll(&fd, 1, static_cast<int>(left));
        }
        return true;
    }

private:
    long long ElapsedMs() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - FStart)
            .count();
    }

    std::string FPath;
    std::chrono::steady_clock::time_point FStart;
    int FFd = -1;
    bool FBound = false;
    std::vector<TMessage> FMessages;
};
