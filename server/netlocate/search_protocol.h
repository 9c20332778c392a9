#pragma once
// The network search: a recorder's server library broadcasts one UDP datagram
// "KESTAVO-SEARCH\n" to port 45001 ($KESTAVO_SEARCH_PORT overrides) of the local network and of
// this computer; every receiving server answers "KESTAVO-SERVER\n<name>\n<second>\n<upload port>\n".
// The first answer wins. A name without "@" becomes "kestavo@<address the answer came from>", so the
// recorder's upload host is the server's address; <second> is the catalogue the recorders should
// report to (a PostgreSQL connection text), or "ptSingleUser".
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

namespace kestavo::server {

inline constexpr int kSearchPort = 45001;

struct FoundServer {
    std::string name;
    std::string second;
    int uploadPort = 45000;
};

// The port searches use: $KESTAVO_SEARCH_PORT or kSearchPort.
[[nodiscard]] int SearchPort();

// Broadcasts the question and waits at most `timeout` for an answer.
[[nodiscard]] std::optional<FoundServer> SearchNetwork(std::chrono::milliseconds timeout);

// The receiving server's side: answers every search on its own thread until destroyed.
class SearchResponder {
public:
    // False when the UDP port cannot be bound (another server on this computer answers already).
    bool start(FoundServer answer, int port);
    ~SearchResponder();

private:
    int fd_ = -1;
    std::jthread thread_;
};

}  // namespace kestavo::server
