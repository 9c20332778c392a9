#pragma once
// FileReceiver: the receiving end of the recorders' uploads. Each connection brings a 115-byte
// header ("FILE", header length 115, the file name zero-terminated in 100 bytes, the size, three
// zero bytes; little-endian) and then the file in whole 8192-byte blocks, whose bytes past the size
// are stale and ignored. The file is written under a temporary name in the store folder and, once
// the size in the header has arrived, renamed to its own name — never over an existing file: the
// same bytes again count as delivered, different ones get a free name "stem.N.ext". The catalogue
// row is then marked uploaded. A recording's JSON sidecar ("X.wav.json", sent after "X.wav") is
// stored beside it, under the name the recording was stored under plus ".json", and is never
// entered in the catalogue. The receiver reads on until the sender has finished and closes its
// side only then: that close tells the sender it may delete its copy. A header that is not one,
// a name with a folder, "..", or a control character, a size over the limit, or a transfer that
// breaks off is refused by breaking the connection, and nothing is kept of it.
//
// Threads: one thread accepts; every connection has a thread of its own. The catalogue is shared
// under one lock.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "catalogue/catalogue.h"
#include "platform/stream_socket.h"

namespace kestavo::server {

// Whether an uploaded file is a recording's JSON sidecar.
[[nodiscard]] bool IsSidecarName(const std::string& name);
// The name from a header, when acceptable as a file name in the store folder.
[[nodiscard]] std::optional<std::string> AcceptableUploadName(const std::string& name);

struct ReceiverOptions {
    std::filesystem::path store;
    std::int64_t maxBytes = 2147483647;           // larger sizes are refused
    std::chrono::milliseconds timeout{60000};     // every wait for the sender
    std::function<void(const std::string&)> log;  // one line per event; may be null
};

class FileReceiver {
public:
    // `catalogue` may be null (files only).
    FileReceiver(ReceiverOptions options, std::unique_ptr<platform::StreamListener> listener,
                 std::unique_ptr<Catalogue> catalogue);
    ~FileReceiver();  // stops accepting, breaks off transfers in progress, joins every thread
    [[nodiscard]] std::uint16_t port() const noexcept { return port_; }
    [[nodiscard]] std::uint64_t Received() const noexcept { return received_.load(); }
    [[nodiscard]] std::uint64_t Refused() const noexcept { return refused_.load(); }
    // The catalogue under its lock (the web page searches it).
    template <typename Fn>
    auto withCatalogue(Fn&& fn) {
        std::lock_guard lock(catalogueMutex_);
        return fn(catalogue_.get());
    }

private:
    void acceptLoop_(std::stop_token stop);
    void serve_(std::stop_token stop, platform::StreamConnection& c);
    void markUploaded_(const std::string& name, std::int64_t size);
    void log_(const std::string& line);

    ReceiverOptions options_;
    std::unique_ptr<platform::StreamListener> listener_;
    std::uint16_t port_;
    std::mutex catalogueMutex_;
    std::unique_ptr<Catalogue> catalogue_;
    std::map<std::string, std::string> storedAs_;  // recordings stored under another name (catalogueMutex_)
    std::atomic<std::uint64_t> received_{0}, refused_{0};
    struct Connection {
        std::shared_ptr<std::atomic<bool>> done;
        std::jthread thread;
    };
    std::list<Connection> connections_;  // the acceptor's own; finished ones are joined as new ones arrive
    std::jthread acceptor_;
};

}  // namespace kestavo::server
