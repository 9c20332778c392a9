#pragma once
// MemoryNetwork: an in-process Network. A connection is a pair of byte queues under one mutex;
// listening takes a port number in this network only. Connecting to a port nobody listens on is
// refused at once; closing a connection whose incoming bytes were not all read resets it, as TCP
// does, so a receiver that dies in the middle of a transfer looks the same here as on a wire.
//
// Threads: any; every wait is on a condition with a bound.
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "platform/stream_socket.h"

namespace kestavo::platform {

class MemoryNetwork final : public Network {
public:
    MemoryNetwork();
    ~MemoryNetwork() override;

    std::unique_ptr<StreamConnection> connect(const std::string& host, std::uint16_t port,
                                              std::chrono::milliseconds timeout, std::error_code& error) override;
    // `address` is ignored: every host name reaches every port of this network.
    std::unique_ptr<StreamListener> listen(const std::string& address, std::uint16_t port,
                                           std::error_code& error) override;

    struct Shared;  // the ports and the connections' queues

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace kestavo::platform
