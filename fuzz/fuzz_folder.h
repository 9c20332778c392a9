#pragma once
// A private folder for one fuzzing process, made once and reused by every input. It lies in
// memory (/dev/shm) where there is one, so that the writers' waits for the disk cost nothing.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace kestavo::fuzz {

inline const std::filesystem::path& folder() {
    static const std::filesystem::path dir = [] {
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
            ? std::filesystem::path("/dev/shm")
            : std::filesystem::temp_directory_path();
        std::string pattern = (base / "kestavo-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        const std::filesystem::path made(pattern);
        static const struct Cleanup {
            std::filesystem::path dir;
            ~Cleanup() {
                std::error_code ec;
                std::filesystem::remove_all(dir, ec);
            }
        } cleanup{made};
        return made;
    }();
    return dir;
}

inline void writeInput(const std::filesystem::path& file, const uint8_t* data, size_t size) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

}  // namespace kestavo::fuzz
