#pragma once
// threadRunning: whether a thread of this process has a name, as `top -H` shows it.
#include <filesystem>
#include <fstream>
#include <string>

namespace kestavo::test {

inline bool threadRunning(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string comm;
        if (std::getline(std::ifstream(task.path() / "comm"), comm) && comm == name) return true;
    }
    return false;
}

}  // namespace kestavo::test
