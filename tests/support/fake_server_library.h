#pragma once
// FakeServerLibrary: the logging server access library of tests/support/netlocate, copied into a
// test's folder (a real copy, so each test loads its own instance) with its answers set through
// the environment for the life of this object. log() gives the calls made so far, one per line.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace kestavo::test {

struct FakeServerLibrary {
    // Copies the library to `folder`/netlocate.so; its calls are logged beside it.
    explicit FakeServerLibrary(const std::filesystem::path& folder)
        : file(folder / "netlocate.so"), logFile(folder / "netlocate.log") {
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(KESTAVO_FAKE_NETLOCATE, file, std::filesystem::copy_options::overwrite_existing);
        env.set("FAKE_NETLOCATE_LOG", logFile.string());
        env.unset("FAKE_NETLOCATE_INIT");
        env.unset("FAKE_NETLOCATE_FOUND");
        env.unset("FAKE_NETLOCATE_FOLDER");
        env.unset("FAKE_NETLOCATE_PORT");
        env.unset("FAKE_NETLOCATE_THROW");
    }
    [[nodiscard]] std::vector<std::string> log() const {
        std::vector<std::string> lines;
        std::ifstream in(logFile);
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }
    // The logged calls whose line starts with `call`.
    [[nodiscard]] std::vector<std::string> calls(const std::string& call) const {
        std::vector<std::string> out;
        for (auto& l : log())
            if (l.rfind(call, 0) == 0) out.push_back(l);
        return out;
    }

    std::filesystem::path file;
    std::filesystem::path logFile;
    ScopedEnv env;
};

}  // namespace kestavo::test
