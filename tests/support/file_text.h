#pragma once
// readText, writeText and fixture: a whole file as bytes, for tests that prepare inputs and check outputs
// byte for byte without going through the code under test. Fixtures live under tests/data.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace kestavo::test {

// Writes `bytes` as the whole file, creating its folder first.
inline void writeText(const std::filesystem::path& file, std::string_view bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

// The whole file; empty when it cannot be read.
inline std::string readText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The fixture file tests/data/`name` as bytes; a missing or empty fixture fails the test.
inline std::string fixture(std::string_view name) {
    std::string text = readText(std::filesystem::path(KESTAVO_TEST_DATA) / name);
    EXPECT_FALSE(text.empty()) << "fixture " << name;
    return text;
}

}  // namespace kestavo::test
