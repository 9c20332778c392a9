#pragma once
// threadNames: the names of this process's threads as `top -H` shows them (/proc/self/task/*/comm).
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kestavo::test {

inline std::vector<std::string> threadNames() {
    std::vector<std::string> names;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (std::getline(comm, name)) names.push_back(name);
    }
    return names;
}

}  // namespace kestavo::test
