#include "platform/folders.h"

#include <unistd.h>
#include <cstdlib>

namespace kestavo::platform {

namespace {
std::filesystem::path envPath(const char* name) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::filesystem::path(v) : std::filesystem::path();
}
std::filesystem::path home() {
    auto h = envPath("HOME");
    return h.empty() ? std::filesystem::path("/tmp") : h;
}
}  // namespace

Folders Folders::fromEnvironment() {
    Folders f;
    auto data = envPath("XDG_DATA_HOME");
    if (data.empty()) data = home() / ".local" / "share";
    f.program = envPath("KESTAVO_HOME");
    if (f.program.empty()) f.program = data / "kestavo";
    auto cfg = envPath("XDG_CONFIG_HOME");
    if (cfg.empty()) cfg = home() / ".config";
    f.config = cfg / "kestavo";
    f.autostart = cfg / "autostart";
    f.runtime = envPath("XDG_RUNTIME_DIR");
    if (f.runtime.empty()) f.runtime = f.program;
    return f;
}

std::string computerName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return {};
    std::string s(buf);
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::filesystem::path executablePath() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : p;
}

}  // namespace kestavo::platform
