// systemd's end of NOTIFY_SOCKET, for the tests and the benchmarks that run
// printorbd as the service manager would: one datagram per message, each
// kept with the time it came, in milliseconds since the socket was made.
// The time is the kernel's (SO_TIMESTAMPNS, taken when the datagram was
// queued), not the moment the test gets round to reading: a test process
// that stalls must not make two pings look simultaneous or hide a gap.
// Header-only and without Qt, so a benchmark can use it too.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

class TNotifySocket {
public:
    struct TMessage {
        long long At = 0;  // arrival, ms since the socket was made
        std::string Text;
    };

    explicit TNotifySocket(const std::string& path) : FPath(path), FStart(std::chrono::steady_clock::now())
    {
        ::clock_gettime(CLOCK_REALTIME, &FStartReal);
        FFd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        if (FFd < 0 || path.size() >= sizeof address.sun_path)
            return;
        const int on = 1;
        if (::setsockopt(FFd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0)
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
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        for (;;) {
            iovec data {buffer, sizeof buffer};
            msghdr header {};
            header.msg_iov = &data;
            header.msg_iovlen = 1;
            header.msg_control = control;
            header.msg_controllen = sizeof control;
            const ssize_t got = ::recvmsg(FFd, &header, 0);
            if (got < 0)
                break;
            long long at = -1;
            for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c))
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_TIMESTAMPNS) {
                    timespec stamp {};
                    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                    at = (stamp.tv_sec - FStartReal.tv_sec) * 1000LL + (stamp.tv_nsec - FStartReal.tv_nsec) / 1000000;
                }
            if (at < 0) {
                std::fprintf(stderr, "TNotifySocket: a datagram came without its arrival time\n");
                std::abort();  // every gap measured would be wrong
            }
            FMessages.push_back({at, std::string(buffer, static_cast<std::size_t>(got))});
        }
        return FMessages;
    }

    // A message's arrival on the steady clock, for measuring from another
    // moment of the test (a program's launch).
    std::chrono::steady_clock::time_point Arrival(const TMessage& message) const
    {
        return FStart + std::chrono::milliseconds(message.At);
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
    timespec FStartReal {};  // the kernel stamps on this clock
    int FFd = -1;
    bool FBound = false;
    std::vector<TMessage> FMessages;
};
