#include "platform/memory_network.h"

#include <algorithm>
#include <cstring>

namespace kestavo::platform {

namespace {

// One direction of a connection.
struct Pipe {
    std::deque<std::byte> bytes;
    bool writerDone = false;  // the sender half-closed or closed
    bool readerGone = false;  // the receiving end was closed
    bool reset = false;       // broken off
};

// Both directions and the one lock and condition of a connection.
struct Link {
    std::mutex mutex;
    std::condition_variable changed;
    Pipe pipes[2];
};

class MemoryConnection final : public StreamConnection {
public:
    MemoryConnection(std::shared_ptr<Link> link, int side) : link_(std::move(link)), side_(side) {}
    ~MemoryConnection() override {
        std::lock_guard lock(link_->mutex);
        Pipe& out = link_->pipes[side_];
        Pipe& in = link_->pipes[1 - side_];
        out.writerDone = true;
        in.readerGone = true;
        if (!in.bytes.empty()) out.reset = in.reset = true;  // unread bytes at close: a reset
        link_->changed.notify_all();
    }

    std::error_code sendAll(std::span<const std::byte> data) override {
        std::lock_guard lock(link_->mutex);
        Pipe& out = link_->pipes[side_];
        if (out.reset) return std::make_error_code(std::errc::connection_reset);
        if (out.readerGone || out.writerDone) return std::make_error_code(std::errc::broken_pipe);
        out.bytes.insert(out.bytes.end(), data.begin(), data.end());
        link_->changed.notify_all();
        return {};
    }
    std::error_code finishSending() override {
        std::lock_guard lock(link_->mutex);
        Pipe& out = link_->pipes[side_];
        if (out.reset) return std::make_error_code(std::errc::connection_reset);
        out.writerDone = true;
        link_->changed.notify_all();
        return {};
    }
    IoResult receive(std::span<std::byte> data, std::chrono::milliseconds timeout) override {
        std::unique_lock lock(link_->mutex);
        Pipe& in = link_->pipes[1 - side_];
        IoResult r;
        if (!link_->changed.wait_for(lock, timeout, [&] { return in.reset || !in.bytes.empty() || in.writerDone; })) {
            r.error = std::make_error_code(std::errc::timed_out);
            return r;
        }
        if (in.reset) {
            r.error = std::make_error_code(std::errc::connection_reset);
            return r;
        }
        r.bytes = std::min(data.size(), in.bytes.size());
        std::copy_n(in.bytes.begin(), r.bytes, data.begin());
        in.bytes.erase(in.bytes.begin(), in.bytes.begin() + std::ptrdiff_t(r.bytes));
        return r;
    }
    void abort() noexcept override {
        std::lock_guard lock(link_->mutex);
        for (Pipe& p : link_->pipes) {
            p.reset = true;
            p.bytes.clear();
        }
        link_->changed.notify_all();
    }

private:
    std::shared_ptr<Link> link_;
    int side_;  // this end sends into pipes[side_] and reads pipes[1 - side_]
};

}  // namespace

struct MemoryNetwork::Shared {
    std::mutex mutex;
    std::condition_variable arrived;
    std::map<std::uint16_t, std::deque<std::shared_ptr<Link>>> ports;  // listening ports and their waiting connections
    std::uint16_t nextFree = 40000;
};

namespace {

class MemoryListener final : public StreamListener {
public:
    MemoryListener(std::shared_ptr<MemoryNetwork::Shared> shared, std::uint16_t port)
        : shared_(std::move(shared)), port_(port) {}
    ~MemoryListener() override {
        std::lock_guard lock(shared_->mutex);
        auto it = shared_->ports.find(port_);
        if (it == shared_->ports.end()) return;
        for (auto& link : it->second) {  // connections never accepted are refused now
            std::lock_guard l(link->mutex);
            for (Pipe& p : link->pipes) p.reset = true;
            link->changed.notify_all();
        }
        shared_->ports.erase(it);
    }
    std::unique_ptr<StreamConnection> accept(std::chrono::milliseconds timeout, std::error_code& error) override {
        std::unique_lock lock(shared_->mutex);
        auto& waiting = shared_->ports[port_];
        if (!shared_->arrived.wait_for(lock, timeout, [&] { return !waiting.empty(); })) {
            error = std::make_error_code(std::errc::timed_out);
            return nullptr;
        }
        auto link = std::move(waiting.front());
        waiting.pop_front();
        return std::make_unique<MemoryConnection>(std::move(link), 1);
    }
    std::uint16_t port() const noexcept override { return port_; }

private:
    std::shared_ptr<MemoryNetwork::Shared> shared_;
    std::uint16_t port_;
};

}  // namespace

MemoryNetwork::MemoryNetwork() : shared_(std::make_shared<Shared>()) {}
MemoryNetwork::~MemoryNetwork() = default;

std::unique_ptr<StreamConnection> MemoryNetwork::connect(const std::string&, std::uint16_t port,
                                                         std::chrono::milliseconds, std::error_code& error) {
    std::lock_guard lock(shared_->mutex);
    auto it = shared_->ports.find(port);
    if (it == shared_->ports.end()) {
        error = std::make_error_code(std::errc::connection_refused);
        return nullptr;
    }
    auto link = std::make_shared<Link>();
    it->second.push_back(link);
    shared_->arrived.notify_all();
    return std::make_unique<MemoryConnection>(std::move(link), 0);
}

std::unique_ptr<StreamListener> MemoryNetwork::listen(const std::string&, std::uint16_t port, std::error_code& error) {
    std::lock_guard lock(shared_->mutex);
    if (port == 0)
        while (shared_->ports.count(shared_->nextFree)) ++shared_->nextFree;
    const std::uint16_t p = port == 0 ? shared_->nextFree++ : port;
    if (shared_->ports.count(p)) {
        error = std::make_error_code(std::errc::address_in_use);
        return nullptr;
    }
    shared_->ports[p];
    return std::make_unique<MemoryListener>(shared_, p);
}

}  // namespace kestavo::platform
