#pragma once
// DynamicLibrary: a shared library loaded at run time, giving out only its own entry points.
//
// A loaded shared library (plug-ins, the server access library, LAME when loaded late). Entry
// points are accepted only when they belong to this library itself: a name the library does not
// define would otherwise resolve to another object's symbol (dlsym of "close" finds the C
// library's close). Loaded with RTLD_NOW | RTLD_LOCAL by absolute path. Not thread-safe.
#include <filesystem>
#include <string>

namespace kestavo::platform {

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // False with error() set when the file cannot be loaded.
    [[nodiscard]] bool load(const std::filesystem::path& path);
    void unload() noexcept;
    [[nodiscard]] bool loaded() const noexcept { return handle_ != nullptr; }
    // The entry point `name` defined by this library, or null.
    [[nodiscard]] void* symbol(const char* name) const noexcept;
    template <typename Fn>
    [[nodiscard]] Fn entry(const char* name) const noexcept {
        return reinterpret_cast<Fn>(symbol(name));
    }
    [[nodiscard]] const std::string& error() const noexcept { return error_; }

private:
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace kestavo::platform
