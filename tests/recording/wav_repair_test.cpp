#include "recording/wav_repair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "support/wav_io.h"

namespace kestavo::recording {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void WriteAll(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
void SetSizes(std::vector<std::uint8_t>& b, std::uint32_t riff, std::uint32_t data) {
    for (int i = 0; i < 4; ++i) {
        b[4 + i] = std::uint8_t(riff >> (8 * i));
        b[40 + i] = std::uint8_t(data >> (8 * i));
    }
}

class WavRepair : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kestavo_repair_XXXXXX";
        dir_ = ::mkdtemp(tmpl);
        fs::create_directories(dir_ / "05_12_2026" / "deeper");
    }
    void TearDown() override { fs::remove_all(dir_); }
    // A 16-bit mono recording with `samples` samples and the given size fields.
    fs::path Recording(const fs::path& rel, std::size_t samples, std::uint32_t riff, std::uint32_t data) {
        const fs::path p = dir_ / rel;
        test::writeWav16(p, 1, std::vector<std::int16_t>(samples, 1234));
        auto b = ReadAll(p);
        SetSizes(b, riff, data);
        WriteAll(p, b);
        return p;
    }
    fs::path dir_;
};

TEST_F(WavRepair, FilesLeftByACrashGetSizesFromTheirLength) {
    const fs::path crashed = Recording("05_12_2026/a.wav", 1000, 34, 0);            // never completed
    const fs::path stale = Recording("05_12_2026/deeper/b.WAV", 5000, 2036, 2000);  // sizes lag behind
    const fs::path ahead = Recording("c.wav", 100, 100036, 100000);                 // tail lost
    const fs::path fine = Recording("d.wav", 300, 636, 600);
    auto odd = ReadAll(crashed);
    odd.push_back(0x55);  // half a sample at the end
    const fs::path halfSample = dir_ / "e.wav";
    WriteAll(halfSample, odd);

    auto repaired = RepairWavFiles({dir_, dir_ / "missing"});
    std::ranges::sort(repaired);
    std::vector<fs::path> expected{crashed, stale, ahead, halfSample};
    std::ranges::sort(expected);
    EXPECT_EQ(repaired, expected);

    const auto check = [](const fs::path& p, std::uint32_t data) {
        const auto w = test::readWav(p);
        ASSERT_TRUE(w) << p;
        EXPECT_EQ(w->dataSize, data) << p;
        EXPECT_EQ(w->riffSize, data + 36) << p;
    };
    check(crashed, 2000);
    check(stale, 10000);
    check(ahead, 200);
    check(fine, 600);
    check(halfSample, 2000);                      // rounded down to whole samples
    EXPECT_TRUE(RepairWavFiles({dir_}).empty());  // a second scan finds nothing to do
}

TEST_F(WavRepair, LeavesAloneWhatIsNotOneOfOurRecordings) {
    const fs::path text = dir_ / "notes.wav";
    WriteAll(text, std::vector<std::uint8_t>(100, 'x'));
    // A WAV with a chunk after the data: its RIFF size covers more than header and data.
    const fs::path listChunk = Recording("list.wav", 100, 36 + 200 + 20, 200);
    { std::ofstream(listChunk, std::ios::binary | std::ios::app).write("LIST\x0c\0\0\0INFOISFT\0\0\0\0", 20); }
    // Float samples (format 3) with the crash marks.
    const fs::path floats = Recording("float.wav", 100, 34, 0);
    auto f = ReadAll(floats);
    f[20] = 3;
    WriteAll(floats, f);
    // A crashed recording that is not named .wav.
    const fs::path other = Recording("crash.raw", 100, 34, 0);

    const auto before = {ReadAll(text), ReadAll(listChunk), ReadAll(floats), ReadAll(other)};
    EXPECT_TRUE(RepairWavFiles({dir_}).empty());
    const auto after = {ReadAll(text), ReadAll(listChunk), ReadAll(floats), ReadAll(other)};
    EXPECT_TRUE(std::ranges::equal(before, after));
}

}  // namespace
}  // namespace kestavo::recording
