#include "services/server_api.h"

#include <array>

namespace kestavo::services {

std::unique_ptr<NetlocateLibrary> NetlocateLibrary::load(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return nullptr;
    std::unique_ptr<NetlocateLibrary> l(new NetlocateLibrary);
    if (!l->lib_.load(file)) return nullptr;
    l->init_ = l->lib_.entry<InitFn>("init");
    l->tryNet_ = l->lib_.entry<TryNetFn>("try_net");
    l->initBase_ = l->lib_.entry<InitBaseFn>("init_base");
    l->getUstPath_ = l->lib_.entry<GetUstPathFn>("get_ust_path");
    l->getPort_ = l->lib_.entry<GetPortFn>("get_port");
    l->startRecFile_ = l->lib_.entry<StartRecFileFn>("start_rec_file");
    l->addAon_ = l->lib_.entry<AddTextFn>("add_aon");
    l->addNabor_ = l->lib_.entry<AddTextFn>("add_nabor");
    l->stopRecFile_ = l->lib_.entry<StopRecFileFn>("stop_rec_file");
    l->delRec_ = l->lib_.entry<DelRecFn>("del_rec");
    l->close_ = l->lib_.entry<CloseFn>("close");
    return l;
}

NetlocateLibrary::~NetlocateLibrary() = default;

std::int32_t NetlocateLibrary::start_rec_file(const std::string& path, const std::string& prefix,
                                              const std::string& label) {
    std::lock_guard lock(mutex_);
    return startRecFile_ ? startRecFile_(path.c_str(), prefix.c_str(), label.c_str()) : 0;
}
void NetlocateLibrary::add_aon(std::int32_t id, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (addAon_) addAon_(id, text.c_str());
}
void NetlocateLibrary::add_nabor(std::int32_t id, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (addNabor_) addNabor_(id, text.c_str());
}
void NetlocateLibrary::stop_rec_file(std::int32_t id, const std::string& duration, const std::string& fileName) {
    std::lock_guard lock(mutex_);
    if (stopRecFile_) stopRecFile_(id, duration.c_str(), fileName.c_str());
}
void NetlocateLibrary::del_rec(std::int32_t id) {
    std::lock_guard lock(mutex_);
    if (delRec_) delRec_(id);
}

namespace {
// The library writes zero-terminated texts into two 100-byte buffers it is given.
template <typename Fn>
auto callWithTwoBuffers(Fn fn, std::string& a, std::string& b) {
    std::array<char, 101> bufA{}, bufB{};
    char* pa = bufA.data();
    char* pb = bufB.data();
    auto r = fn(&pa, &pb);
    bufA.back() = 0;
    bufB.back() = 0;
    a = bufA.data();
    b = bufB.data();
    return r;
}
}  // namespace

bool NetlocateLibrary::init(std::string& name, std::string& second) {
    std::lock_guard lock(mutex_);
    if (!init_) return false;
    callWithTwoBuffers(
        [&](char** x, char** y) {
            init_(x, y);
            return 0;
        },
        name, second);
    return true;
}
bool NetlocateLibrary::try_net(std::string& name, std::string& second) {
    std::lock_guard lock(mutex_);
    if (!tryNet_) return false;
    return callWithTwoBuffers(tryNet_, name, second);
}
void NetlocateLibrary::init_base(const std::string& name, const std::string& port, const std::string& user,
                                 const std::string& password) {
    std::lock_guard lock(mutex_);
    if (initBase_) initBase_(name.c_str(), port.c_str(), user.c_str(), password.c_str());
}
std::string NetlocateLibrary::get_ust_path() {
    std::lock_guard lock(mutex_);
    const char* p = getUstPath_ ? getUstPath_() : nullptr;
    return p ? std::string(p) : std::string();
}
std::int32_t NetlocateLibrary::get_port() {
    std::lock_guard lock(mutex_);
    return getPort_ ? getPort_() : 0;
}
void NetlocateLibrary::close() {
    std::lock_guard lock(mutex_);
    if (close_) close_();
}

}  // namespace kestavo::services
