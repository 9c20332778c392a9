#pragma once
// StreamConnection, StreamListener, Network: byte streams between programs, as the upload of
// recordings and its receiver use them. Two backends: TCP through the system's sockets
// (systemNetwork), and an in-process network (MemoryNetwork) whose connections are two byte
// queues, so tests can run a receiver, refuse a connection or break one off in the middle without
// ports or timing of their own.
//
// A connection ends in one of three ways: the peer half-closes (receive returns 0 bytes after the
// last data), the peer resets it (an error: it broke off), or a time-out. finishSending is the
// half-close: the peer reads the end of the stream while this side may still read the peer's answer.
//
// Threads: one thread uses a connection; abort() alone may come from any other thread and makes a
// send or receive in progress return at once. Listeners and networks are thread-safe.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <system_error>

namespace kestavo::platform {

struct IoResult {
    std::size_t bytes = 0;  // 0 without error: the peer closed its side
    std::error_code error;
};

class StreamConnection {
public:
    virtual ~StreamConnection() = default;
    // Sends every byte of `data`, waiting at most the connection's time-out for room.
    [[nodiscard]] virtual std::error_code sendAll(std::span<const std::byte> data) = 0;
    // Half-close: the peer reads the end of the stream; receiving goes on.
    [[nodiscard]] virtual std::error_code finishSending() = 0;
    // Up to data.size() bytes; waits at most `timeout` (error timed_out).
    [[nodiscard]] virtual IoResult receive(std::span<std::byte> data, std::chrono::milliseconds timeout) = 0;
    // Breaks the connection off (the peer sees a reset); any thread.
    virtual void abort() noexcept = 0;
};

class StreamListener {
public:
    virtual ~StreamListener() = default;
    // The next connection, waiting at most `timeout`; null with `error` set otherwise.
    [[nodiscard]] virtual std::unique_ptr<StreamConnection> accept(std::chrono::milliseconds timeout,
                                                                   std::error_code& error) = 0;
    [[nodiscard]] virtual std::uint16_t port() const noexcept = 0;
};

class Network {
public:
    virtual ~Network() = default;
    // Connects to `host` (name or address) on `port`; `timeout` bounds the connect and every
    // later send. Null with `error` set on failure.
    [[nodiscard]] virtual std::unique_ptr<StreamConnection> connect(const std::string& host, std::uint16_t port,
                                                                    std::chrono::milliseconds timeout,
                                                                    std::error_code& error) = 0;
    // Listens on `address` ("" or "0.0.0.0": every address) and `port` (0: any free port).
    [[nodiscard]] virtual std::unique_ptr<StreamListener> listen(const std::string& address, std::uint16_t port,
                                                                 std::error_code& error) = 0;
};

// TCP over the system's sockets.
[[nodiscard]] Network& systemNetwork();

}  // namespace kestavo::platform
