#include "netlocate/search_protocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace kestavo::server {

namespace {
constexpr const char* kQuestion = "KESTAVO-SEARCH\n";
constexpr const char* kAnswer = "KESTAVO-SERVER\n";
}  // namespace

int SearchPort() {
    const char* p = std::getenv("KESTAVO_SEARCH_PORT");
    return p && std::atoi(p) > 0 ? std::atoi(p) : kSearchPort;
}

std::optional<FoundServer> SearchNetwork(std::chrono::milliseconds timeout) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(std::uint16_t(SearchPort()));
    for (const char* address : {"255.255.255.255", "127.0.0.1"}) {
        ::inet_pton(AF_INET, address, &to.sin_addr);
        ::sendto(fd, kQuestion, std::strlen(kQuestion), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    std::optional<FoundServer> found;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!found) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0) continue;
        char buf[1024];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(fd, buf, sizeof buf - 1, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n <= 0) continue;
        std::istringstream in(std::string(buf, std::size_t(n)));
        std::string head, name, second, port;
        std::getline(in, head);
        if (head + "\n" != kAnswer || !std::getline(in, name) || !std::getline(in, second)) continue;
        std::getline(in, port);
        FoundServer f;
        char addr[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, addr, sizeof addr);
        f.name = name.find('@') == std::string::npos ? "kestavo@" + std::string(addr) : name;
        f.second = second;
        f.uploadPort = std::atoi(port.c_str()) > 0 ? std::atoi(port.c_str()) : 45000;
        found = f;
    }
    ::close(fd);
    return found;
}

bool SearchResponder::start(FoundServer answer, int port) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(std::uint16_t(port));
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    const std::string reply =
        std::string(kAnswer) + answer.name + "\n" + answer.second + "\n" + std::to_string(answer.uploadPort) + "\n";
    thread_ = std::jthread([this, reply](std::stop_token stop) {
        while (!stop.stop_requested()) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;  // a bounded wait, then the stop check
            char buf[256];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n > 0 && std::string(buf, std::size_t(n)) == kQuestion)
                ::sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    });
    return true;
}

SearchResponder::~SearchResponder() {
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace kestavo::server
