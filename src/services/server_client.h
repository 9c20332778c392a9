#pragma once
// TCl: the server client. It connects the recorder to the recording server through the server
// access library (netlocate.so in the program folder), hands the channels a RecordServer that
// reaches the library while the server is in use, and sends finished recordings to the
// receiving server through the upload thread (TClient).
//
// Connecting marks the server unused, loads the library once (a missing library leaves the server
// off, without a message), optionally asks it to search the network (try_net), then hands it the
// name, the second parameter, the user and the password (init_base). The name "Local server"
// means one computer: recorder and server share a disk, the channels write straight into the
// server's folder (get_ust_path) and nothing is uploaded. Otherwise the upload goes to the part of
// the name after its first "@" on the port get_port gives (45000 when it gives none).
//
// The channels hold one RecordServer for the life of the program: this object. Each call is
// forwarded to the library only while the server is in use, under one lock (the library is not
// required to be thread-safe), and nothing the library throws reaches a channel.
//
// Threads: ConnectServer, DisconnectServer and the queries from the main thread; the RecordServer
// calls and Upload from channel threads.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "services/server_api.h"
#include "services/upload_client.h"

namespace kestavo::services {

inline constexpr const char* kLocalServerName = "Local server";
inline constexpr const char* kNoServerFoundText = "Не вижу сервера в сети";
inline constexpr const char* kLibraryFileName = "netlocate.so";

// What a connect hands the library; a search replaces name and port.
struct ServerLogin {
    std::string name;      // SERVER/NAME
    std::string port;      // SERVER/PORT
    std::string user;      // SERVER/USER
    std::string password;  // the lock password
};

// The upload host: the text after the first "@" of the server name, or the whole name.
[[nodiscard]] std::string ServerHost(const std::string& name);

class TCl final : public RecordServer {
public:
    // `library`: the server access library's file; `upload`: the upload thread's options.
    TCl(std::filesystem::path library, UploadOptions upload);
    ~TCl() override;  // disconnects; queued uploads stay in the queue file

    // Main thread. Returns whether the server is now in use; `login` gets the name and port a
    // search found. `message` is called with the text to show when a search finds nothing.
    bool ConnectServer(bool search, ServerLogin& login, const std::function<void(const std::string&)>& message = {});
    // Main thread: the library's close (when it has one); the server is no longer used.
    void DisconnectServer();

    [[nodiscard]] bool InUse() const noexcept { return inUse_.load(std::memory_order_acquire); }
    [[nodiscard]] bool OneComputer() const noexcept { return oneComputer_; }
    [[nodiscard]] const std::string& Host() const noexcept { return host_; }
    [[nodiscard]] std::uint16_t UploadPort() const noexcept { return port_; }
    [[nodiscard]] const std::string& ServerFolder() const noexcept { return folder_; }
    [[nodiscard]] TClient& Uploads() noexcept { return uploads_; }

    // Channel threads: a finished recording to upload (nothing in one-computer mode or unused).
    void Upload(const std::string& path);

    std::int32_t start_rec_file(const std::string& path, const std::string& prefix,
                                const std::string& channelLabel) override;
    void add_aon(std::int32_t recordId, const std::string& text) override;
    void add_nabor(std::int32_t recordId, const std::string& text) override;
    void stop_rec_file(std::int32_t recordId, const std::string& duration, const std::string& fileName) override;
    void del_rec(std::int32_t recordId) override;

private:
    template <typename Call>
    void guarded_(Call&& call);

    std::filesystem::path libraryFile_;
    std::mutex mutex_;  // the library pointer and the upload target, against channel threads
    std::unique_ptr<NetlocateLibrary> library_;
    std::atomic<bool> inUse_{false};
    bool oneComputer_ = false;
    std::string host_;
    std::uint16_t port_ = kDefaultUploadPort;
    std::string folder_;
    TClient uploads_;
};

// Waits until `serverRunning` answers true, asking every `poll`, for at most `limit`; the
// start-up goes on either way. Returns whether the server appeared. Main thread.
bool WaitForLocalServer(const std::function<bool()>& serverRunning,
                        std::chrono::milliseconds limit = std::chrono::milliseconds(30000),
                        std::chrono::milliseconds poll = std::chrono::milliseconds(20));

}  // namespace kestavo::services
