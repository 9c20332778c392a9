// The TCP backend of Network: blocking sockets with poll() for every wait, so each wait has a bound.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/stream_socket.h"

namespace kestavo::platform {

namespace {

std::error_code lastError() { return {errno, std::system_category()}; }

// Waits until `fd` is ready for `events`; false with `error` set on a time-out or failure.
bool waitReady(int fd, short events, std::chrono::milliseconds timeout, std::error_code& error) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = ::poll(&p, 1, int(timeout.count()));
        if (r > 0) return true;
        if (r == 0) {
            error = std::make_error_code(std::errc::timed_out);
            return false;
        }
        if (errno != EINTR) {
            error = lastError();
            return false;
        }
    }
}

class TcpConnection final : public StreamConnection {
public:
    TcpConnection(int fd, std::chrono::milliseconds timeout) : fd_(fd), timeout_(timeout) {}
    ~TcpConnection() override { ::close(fd_); }

    std::error_code sendAll(std::span<const std::byte> data) override {
        while (!data.empty()) {
            if (aborted_.load()) return std::make_error_code(std::errc::connection_aborted);
            std::error_code ec;
            if (!waitReady(fd_, POLLOUT, timeout_, ec)) return ec;
            const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
                return lastError();
            }
            data = data.subspan(std::size_t(n));
        }
        return {};
    }
    std::error_code finishSending() override {
        if (::shutdown(fd_, SHUT_WR) != 0) return lastError();
        return {};
    }
    IoResult receive(std::span<std::byte> data, std::chrono::milliseconds timeout) override {
        IoResult r;
        for (;;) {
            if (!waitReady(fd_, POLLIN, timeout, r.error)) return r;
            const ssize_t n = ::recv(fd_, data.data(), data.size(), MSG_DONTWAIT);
            if (aborted_.load()) {  // the shutdown below reads as an end of stream: it is none
                r.error = std::make_error_code(std::errc::connection_aborted);
                return r;
            }
            if (n >= 0) {
                r.bytes = std::size_t(n);
                return r;
            }
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            r.error = lastError();
            return r;
        }
    }
    void abort() noexcept override {
        // A zero linger time turns the close into a reset; shutdown wakes a wait in another thread.
        aborted_.store(true);
        linger l{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        ::shutdown(fd_, SHUT_RDWR);
    }

private:
    int fd_;
    std::chrono::milliseconds timeout_;
    std::atomic<bool> aborted_{false};
};

class TcpListener final : public StreamListener {
public:
    TcpListener(int fd, std::uint16_t port) : fd_(fd), port_(port) {}
    ~TcpListener() override { ::close(fd_); }
    std::unique_ptr<StreamConnection> accept(std::chrono::milliseconds timeout, std::error_code& error) override {
        if (!waitReady(fd_, POLLIN, timeout, error)) return nullptr;
        const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) {
            error = lastError();
            return nullptr;
        }
        const int one = 1;
        ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return std::make_unique<TcpConnection>(c, std::chrono::milliseconds(60000));
    }
    std::uint16_t port() const noexcept override { return port_; }

private:
    int fd_;
    std::uint16_t port_;
};

class TcpNetwork final : public Network {
public:
    std::unique_ptr<StreamConnection> connect(const std::string& host, std::uint16_t port,
                                              std::chrono::milliseconds timeout, std::error_code& error) override {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const std::string service = std::to_string(port);
        const int rc = ::getaddrinfo(host.empty() ? "localhost" : host.c_str(), service.c_str(), &hints, &found);
        if (rc != 0 || !found) {
            error = std::make_error_code(std::errc::host_unreachable);
            return nullptr;
        }
        std::unique_ptr<StreamConnection> result;
        error = std::make_error_code(std::errc::connection_refused);
        for (addrinfo* a = found; a && !result; a = a->ai_next) {
            const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
            if (fd < 0) {
                error = lastError();
                continue;
            }
            std::error_code ec;
            if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
                if (errno != EINPROGRESS)
                    ec = lastError();
                else if (waitReady(fd, POLLOUT, timeout, ec)) {
                    int soError = 0;
                    socklen_t len = sizeof soError;
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
                    if (soError != 0) ec = {soError, std::system_category()};
                }
            }
            if (ec) {
                error = ec;
                ::close(fd);
                continue;
            }
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            error.clear();
            result = std::make_unique<TcpConnection>(fd, timeout);
        }
        ::freeaddrinfo(found);
        return result;
    }

    std::unique_ptr<StreamListener> listen(const std::string& address, std::uint16_t port,
                                           std::error_code& error) override {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = lastError();
            return nullptr;
        }
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr.s_addr = htonl(INADDR_ANY);
        if (!address.empty() && ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
            ::close(fd);
            error = std::make_error_code(std::errc::invalid_argument);
            return nullptr;
        }
        if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 64) != 0) {
            error = lastError();
            ::close(fd);
            return nullptr;
        }
        socklen_t len = sizeof sa;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
        return std::make_unique<TcpListener>(fd, ntohs(sa.sin_port));
    }
};

}  // namespace

Network& systemNetwork() {
    static TcpNetwork network;
    return network;
}

}  // namespace kestavo::platform
