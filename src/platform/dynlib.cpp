#include "platform/dynlib.h"

#include <dlfcn.h>
#include <link.h>

namespace kestavo::platform {

DynamicLibrary::~DynamicLibrary() { unload(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(other.handle_), error_(std::move(other.error_)) {
    other.handle_ = nullptr;
}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        unload();
        handle_ = other.handle_;
        error_ = std::move(other.error_);
        other.handle_ = nullptr;
    }
    return *this;
}

bool DynamicLibrary::load(const std::filesystem::path& path) {
    unload();
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec);
    handle_ = ::dlopen((ec ? path : absolute).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* e = ::dlerror();
        error_ = e ? e : "cannot load library";
        return false;
    }
    error_.clear();
    return true;
}

void DynamicLibrary::unload() noexcept {
    if (handle_) ::dlclose(handle_);
    handle_ = nullptr;
}

void* DynamicLibrary::symbol(const char* name) const noexcept {
    if (!handle_) return nullptr;
    ::dlerror();
    void* sym = ::dlsym(handle_, name);
    if (!sym) return nullptr;
    // The symbol must lie in this library's own image, not in one it depends on.
    Dl_info info{};
    link_map* map = nullptr;
    if (::dladdr(sym, &info) == 0 || ::dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || !map) return nullptr;
    if (reinterpret_cast<ElfW(Addr)>(info.dli_fbase) != map->l_addr &&
        !(map->l_addr == 0 && info.dli_fname && map->l_name && std::string(info.dli_fname) == map->l_name))
        return nullptr;
    return sym;
}

}  // namespace kestavo::platform
