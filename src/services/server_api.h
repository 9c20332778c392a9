#pragma once
// RecordServer: the recording server as the channels see it. With server reporting on, every recording is
// registered when it starts, the numbers detected during it are added, and it is either completed
// or deleted when it stops. The real implementation calls the server access library netlocate.so
// (entry points resolved by name when the library is present); without the library there is no
// server and the channels record without reporting.
// Threads: called from channel threads and the main thread; implementations serialise as needed.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dynlib.h"

namespace kestavo::services {

class RecordServer {
public:
    virtual ~RecordServer() = default;
    // Registers a recording; returns its record id.
    virtual std::int32_t start_rec_file(const std::string& path, const std::string& prefix,
                                        const std::string& channelLabel) = 0;
    virtual void add_aon(std::int32_t recordId, const std::string& text) = 0;
    virtual void add_nabor(std::int32_t recordId, const std::string& text) = 0;
    virtual void stop_rec_file(std::int32_t recordId, const std::string& duration, const std::string& fileName) = 0;
    virtual void del_rec(std::int32_t recordId) = 0;
};

extern "C" {
using InitFn = void (*)(char** name, char** second);
using TryNetFn = bool (*)(char** name, char** second);
using InitBaseFn = void (*)(const char* name, const char* port, const char* user, const char* password);
using GetUstPathFn = const char* (*)();
using GetPortFn = std::int32_t (*)();
using StartRecFileFn = std::int32_t (*)(const char* path, const char* prefix, const char* channelLabel);
using AddTextFn = void (*)(std::int32_t recordId, const char* text);
using StopRecFileFn = void (*)(std::int32_t recordId, const char* duration, const char* fileName);
using DelRecFn = void (*)(std::int32_t recordId);
using CloseFn = void (*)();
}

// netlocate.so, loaded by absolute path. An entry point the library lacks is never called.
class NetlocateLibrary final : public RecordServer {
public:
    // Null when the file is missing or cannot be loaded.
    [[nodiscard]] static std::unique_ptr<NetlocateLibrary> load(const std::filesystem::path& file);
    ~NetlocateLibrary() override;

    std::int32_t start_rec_file(const std::string& path, const std::string& prefix,
                                const std::string& channelLabel) override;
    void add_aon(std::int32_t recordId, const std::string& text) override;
    void add_nabor(std::int32_t recordId, const std::string& text) override;
    void stop_rec_file(std::int32_t recordId, const std::string& duration, const std::string& fileName) override;
    void del_rec(std::int32_t recordId) override;

    // The connection calls; false when the library lacks the entry point.
    bool init(std::string& name, std::string& second);
    bool try_net(std::string& name, std::string& second);
    void init_base(const std::string& name, const std::string& port, const std::string& user,
                   const std::string& password);
    [[nodiscard]] std::string get_ust_path();
    [[nodiscard]] std::int32_t get_port();
    void close();

private:
    NetlocateLibrary() = default;

    platform::DynamicLibrary lib_;
    std::mutex mutex_;  // the library is called from several channel threads
    InitFn init_ = nullptr;
    TryNetFn tryNet_ = nullptr;
    InitBaseFn initBase_ = nullptr;
    GetUstPathFn getUstPath_ = nullptr;
    GetPortFn getPort_ = nullptr;
    StartRecFileFn startRecFile_ = nullptr;
    AddTextFn addAon_ = nullptr;
    AddTextFn addNabor_ = nullptr;
    StopRecFileFn stopRecFile_ = nullptr;
    DelRecFn delRec_ = nullptr;
    CloseFn close_ = nullptr;
};

}  // namespace kestavo::services
