#include "receiver/file_receiver.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <fstream>
#include <random>
#include <vector>

namespace kestavo::server {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kHeaderBytes = 115;

std::int32_t le32(const std::byte* p) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | std::uint32_t(p[i]);
    return std::int32_t(v);
}

bool sameContent(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::file_size(a, ec) != fs::file_size(b, ec) || ec) return false;
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    std::array<char, 65536> bx, by;
    while (x && y) {
        x.read(bx.data(), bx.size());
        y.read(by.data(), by.size());
        if (x.gcount() != y.gcount() || std::memcmp(bx.data(), by.data(), std::size_t(x.gcount())) != 0) return false;
    }
    return true;
}

// Moves `from` to `to` unless `to` exists (link, then unlink: never over a file).
bool renameNoReplace(const fs::path& from, const fs::path& to) {
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

}  // namespace

bool IsSidecarName(const std::string& name) { return name.size() > 5 && name.ends_with(".json"); }

std::optional<std::string> AcceptableUploadName(const std::string& name) {
    if (name.empty() || name == "." || name.find("..") != std::string::npos) return std::nullopt;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return std::nullopt;
    if (name.front() == '.') return std::nullopt;  // hidden names are the receiver's temporary files
    return name;
}

FileReceiver::FileReceiver(ReceiverOptions options, std::unique_ptr<platform::StreamListener> listener,
                           std::unique_ptr<Catalogue> catalogue)
    : options_(std::move(options)), listener_(std::move(listener)), port_(listener_->port()),
      catalogue_(std::move(catalogue)) {
    std::error_code ec;
    fs::create_directories(options_.store, ec);
    if (catalogue_ && !catalogue_->open()) log_("catalogue not reachable yet: " + catalogue_->lastError());
    acceptor_ = std::jthread([this](std::stop_token s) { acceptLoop_(s); });
}

FileReceiver::~FileReceiver() {
    acceptor_.request_stop();
    if (acceptor_.joinable()) acceptor_.join();
    connections_.clear();  // each jthread asks its connection to stop and joins
}

void FileReceiver::log_(const std::string& line) {
    if (options_.log) options_.log(line);
}

void FileReceiver::acceptLoop_(std::stop_token stop) {
    while (!stop.stop_requested()) {
        std::error_code ec;
        auto c = listener_->accept(std::chrono::milliseconds(100), ec);  // bounded, then the stop check
        connections_.remove_if([](const Connection& k) { return k.done->load(); });
        if (!c) continue;
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::shared_ptr<platform::StreamConnection> conn(std::move(c));
        connections_.push_back(Connection{done, std::jthread([this, conn, done](std::stop_token s) {
                                              std::stop_callback breakOff(s, [&] { conn->abort(); });
                                              try {
                                                  serve_(s, *conn);
                                              } catch (...) {
                                                  conn->abort();  // nothing of a failed transfer is kept
                                              }
                                              done->store(true);
                                          })});
    }
}

void FileReceiver::serve_(std::stop_token stop, platform::StreamConnection& c) {
    const auto refuse = [&](const std::string& why) {
        ++refused_;
        log_("refused: " + why);
        c.abort();
    };
    // Reads exactly data.size() bytes; false when the sender stopped or failed first.
    const auto readExactly = [&](std::span<std::byte> data) {
        std::size_t got = 0;
        while (got < data.size()) {
            const auto r = c.receive(data.subspan(got), options_.timeout);
            if (r.error || r.bytes == 0) return false;
            got += r.bytes;
        }
        return true;
    };
    std::array<std::byte, kHeaderBytes> header{};
    if (!readExactly(header)) return refuse("no header");
    if (std::memcmp(header.data(), "FILE", 4) != 0 || le32(header.data() + 4) != std::int32_t(kHeaderBytes))
        return refuse("not an upload header");
    const char* rawName = reinterpret_cast<const char*>(header.data() + 8);
    const std::size_t nameLength = strnlen(rawName, 100);
    if (nameLength == 100) return refuse("name not terminated");
    const auto name = AcceptableUploadName(std::string(rawName, nameLength));
    const std::int64_t size = le32(header.data() + 108);
    if (!name) return refuse("bad name");
    if (size < 0 || size > options_.maxBytes) return refuse("size " + std::to_string(size) + " for " + *name);

    static thread_local std::mt19937_64 random{std::random_device{}()};
    const fs::path temp = options_.store / ("." + *name + ".part-" + std::to_string(random()));
    {
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) return refuse("cannot create " + temp.string());
        std::vector<std::byte> buffer(65536);
        std::int64_t left = size;
        bool ok = true;
        while (left > 0 && ok) {
            const auto r =
                c.receive(std::span(buffer.data(), std::size_t(std::min<std::int64_t>(left, 65536))), options_.timeout);
            if (r.error || r.bytes == 0) {
                ok = false;
                break;
            }
            for (std::size_t off = 0; off < r.bytes;) {
                const ssize_t w = ::write(fd, buffer.data() + off, r.bytes - off);
                if (w <= 0) {
                    ok = false;
                    break;
                }
                off += std::size_t(w);
            }
            left -= std::int64_t(r.bytes);
        }
        if (ok && ::fsync(fd) != 0) ok = false;
        ::close(fd);
        if (!ok || stop.stop_requested()) {
            fs::remove(temp);
            return refuse("transfer of " + *name + " broke off");
        }
    }
    // The whole file is here: give it its name, never over another file. A recording's sidecar
    // ("X.wav.json") takes the name its recording was stored under.
    const bool sidecar = IsSidecarName(*name);
    std::string wanted = *name;
    if (sidecar) {
        std::lock_guard lock(catalogueMutex_);
        if (const auto it = storedAs_.find(name->substr(0, name->size() - 5)); it != storedAs_.end())
            wanted = it->second + ".json";
    }
    fs::path final = options_.store / wanted;
    bool duplicate = false;
    for (int n = 1; !renameNoReplace(temp, final); ++n) {
        if (errno != EEXIST || n > 1000) {
            fs::remove(temp);
            return refuse("cannot name " + *name);
        }
        if (sameContent(temp, final)) {  // delivered before, the sender missed our close
            duplicate = true;
            fs::remove(temp);
            break;
        }
        const fs::path p(wanted);
        final = options_.store / (p.stem().string() + "." + std::to_string(n) + p.extension().string());
    }
    if (!sidecar && final.filename() != *name) {
        std::lock_guard lock(catalogueMutex_);
        storedAs_[*name] = final.filename().string();
    }
    if (!duplicate) {
        if (!sidecar) markUploaded_(*name, size);  // a sidecar is no recording of the catalogue
        ++received_;
        log_("received " + final.filename().string() + " (" + std::to_string(size) + " bytes)");
    }
    // The stale block tail and the extra block, up to the sender's end of stream; then our close.
    std::array<std::byte, 8192> drain;
    for (;;) {
        const auto r = c.receive(drain, options_.timeout);
        if (r.error || r.bytes == 0) break;
    }
}

void FileReceiver::markUploaded_(const std::string& name, std::int64_t size) {
    std::lock_guard lock(catalogueMutex_);
    if (!catalogue_) return;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if ((catalogue_->connected() || catalogue_->open()) && catalogue_->markUploaded(name, size, CatalogueTimeNow()))
            return;
    }
    log_("catalogue: cannot mark " + name + " uploaded: " + catalogue_->lastError());
}

}  // namespace kestavo::server
