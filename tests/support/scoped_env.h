#pragma once
// ScopedEnv: sets environment variables for one test and puts the old values back at the end.
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestavo::test {

class ScopedEnv {
public:
    ScopedEnv() = default;
    ScopedEnv(const char* name, const std::string& value) { set(name, value); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            it->second ? ::setenv(it->first.c_str(), it->second->c_str(), 1) : ::unsetenv(it->first.c_str());
    }
    void set(const char* name, const std::string& value) { ::setenv(remember(name), value.c_str(), 1); }
    void unset(const char* name) { ::unsetenv(remember(name)); }

private:
    const char* remember(const char* name) {
        const char* v = std::getenv(name);
        saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
        return name;
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace kestavo::test
