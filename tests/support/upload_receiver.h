#pragma once
// UploadReceiver: a receiving end of the recording upload for tests, written from the protocol's
// description: a 115-byte little-endian header ("FILE", header length, a zero-terminated name in
// 100 bytes, the size), then the file in whole 8192-byte blocks whose stale tail is not data. It
// accepts connections one after another on its own thread, keeps every byte each connection
// brought, and closes its side once the sender has finished — or breaks the connection off after
// `breakAfterBytes`, as a receiver killed in the middle of a file would.
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/stream_socket.h"

namespace kestavo::test {

struct ReceivedUpload {
    std::vector<std::byte> raw;  // everything the connection brought, header included
    std::string name;            // from the header
    std::int32_t size = -1;      // from the header
    bool complete = false;       // the sender finished (half-closed) and the receiver closed in turn
    [[nodiscard]] std::vector<std::byte> content() const {
        if (size < 0 || raw.size() < 115 + std::size_t(size)) return {};
        return {raw.begin() + 115, raw.begin() + 115 + size};
    }
};

inline std::int32_t readLe32(const std::byte* p) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | std::uint32_t(p[i]);
    return std::int32_t(v);
}

class UploadReceiver {
public:
    // Listens on `port` (0: any) of `network`.
    UploadReceiver(platform::Network& network, std::uint16_t port = 0, std::size_t breakAfterBytes = SIZE_MAX,
                   bool neverClose = false)
        : breakAfter_(breakAfterBytes), neverClose_(neverClose) {
        std::error_code ec;
        listener_ = network.listen("127.0.0.1", port, ec);
        if (listener_) thread_ = std::jthread([this](std::stop_token s) { run(s); });
    }
    ~UploadReceiver() {
        thread_.request_stop();
        if (thread_.joinable()) thread_.join();
    }
    [[nodiscard]] bool listening() const { return listener_ != nullptr; }
    [[nodiscard]] std::uint16_t port() const { return listener_ ? listener_->port() : 0; }
    // Waits until `n` connections have ended (or `limit` passed); returns those seen.
    std::vector<ReceivedUpload> waitFor(std::size_t n, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, limit, [&] { return done_.size() >= n; });
        return done_;
    }
    // Waits until a connection in progress has brought at least `bytes`.
    bool waitForBytesInFlight(std::size_t bytes, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return inFlight_ >= bytes; });
    }

private:
    void run(std::stop_token stop) {
        while (!stop.stop_requested()) {
            std::error_code ec;
            auto c = listener_->accept(std::chrono::milliseconds(20), ec);
            if (!c) continue;
            ReceivedUpload r;
            std::vector<std::byte> buf(4096);
            for (;;) {
                if (stop.stop_requested()) return;
                std::size_t want = buf.size();
                if (breakAfter_ != SIZE_MAX) want = std::min(want, breakAfter_ - r.raw.size());
                if (want == 0) {  // killed in the middle
                    c->abort();
                    break;
                }
                auto got = c->receive(std::span(buf.data(), want), std::chrono::milliseconds(50));
                if (got.error == std::errc::timed_out) continue;
                if (got.error) break;
                if (got.bytes == 0) {  // the sender finished
                    if (neverClose_) {
                        std::unique_lock lock(mutex_);
                        changed_.wait(lock, stop, [] { return false; });  // holds the connection until stopped
                        return;
                    }
                    r.complete = true;
                    break;
                }
                r.raw.insert(r.raw.end(), buf.begin(), buf.begin() + std::ptrdiff_t(got.bytes));
                std::lock_guard lock(mutex_);
                inFlight_ = r.raw.size();
                changed_.notify_all();
            }
            if (r.raw.size() >= 115 && std::memcmp(r.raw.data(), "FILE", 4) == 0) {
                const char* name = reinterpret_cast<const char*>(r.raw.data() + 8);
                r.name.assign(name, strnlen(name, 100));  // zero-terminated within its 100 bytes
                r.size = readLe32(r.raw.data() + 108);
            }
            c.reset();  // closes: the sender's confirmation
            std::lock_guard lock(mutex_);
            inFlight_ = 0;
            done_.push_back(std::move(r));
            changed_.notify_all();
        }
    }

    std::size_t breakAfter_;
    bool neverClose_;
    std::unique_ptr<platform::StreamListener> listener_;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::vector<ReceivedUpload> done_;
    std::size_t inFlight_ = 0;
    std::jthread thread_;
};

}  // namespace kestavo::test
