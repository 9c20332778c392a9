// The start-up repair of WAV recordings a crash left behind, and the files it must leave alone.
#include "recording/wav_repair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <vector>

#include "support/temp_dir.h"
#include "support/wav_io.h"

namespace kestavo::recording {
namespace {

namespace fs = std::filesystem;

TEST(WavRepair, CrashedRecordingsGetSizesFromTheirLengthAndAnythingElseIsLeftAlone) {
    struct Case {
        const char* name;
        std::size_t samples;         // 16-bit mono samples after a canonical header
        std::uint32_t riff, data;    // the size fields the file says
        std::string tail;            // bytes appended after the samples
        std::pair<int, char> patch;  // one header byte set: {20, 1} leaves PCM as written
        std::int64_t repairedData;   // the data size after the repair; -1: the file must not change
    };
    const std::string listChunk("LIST\x0c\0\0\0INFOISFT\0\0\0\0", 20);
    const Case cases[] = {
        {"05_12_2026/a.wav", 1000, 34, 0, "", {20, 1}, 2000},               // never completed
        {"05_12_2026/deeper/b.WAV", 5000, 2036, 2000, "", {20, 1}, 10000},  // sizes lag behind
        {"c.wav", 100, 100036, 100000, "", {20, 1}, 200},                   // the tail is lost
        {"e.wav", 1000, 34, 0, "\x55", {20, 1}, 2000},                      // half a sample at the end
        {"d.wav", 300, 636, 600, "", {20, 1}, -1},                          // right already
        {"list.wav", 100, 36 + 200 + 20, 200, listChunk, {20, 1}, -1},      // a chunk after the data
        {"float.wav", 100, 34, 0, "", {20, 3}, -1},                         // not PCM
        {"notes.wav", 100, 34, 0, "", {3, 'X'}, -1},                        // not RIFF
        {"crash.raw", 100, 34, 0, "", {20, 1}, -1}                          // not named .wav
    };
    test::TempDir dir;
    fs::create_directories(dir / "05_12_2026" / "deeper");
    std::map<fs::path, std::vector<std::uint8_t>> before;
    std::vector<fs::path> expected;
    for (const Case& c : cases) {
        const fs::path p = dir / c.name;
        test::writeWav16(p, 1, std::vector<std::int16_t>(c.samples, 1234));
        auto b = test::readBytes(p);
        for (int i = 0; i < 4; ++i) {
            b[4 + i] = std::uint8_t(c.riff >> (8 * i));
            b[40 + i] = std::uint8_t(c.data >> (8 * i));
        }
        b[std::size_t(c.patch.first)] = std::uint8_t(c.patch.second);
        b.insert(b.end(), c.tail.begin(), c.tail.end());
        test::writeBytes(p, b);
        before[p] = b;
        if (c.repairedData >= 0) expected.push_back(p);
    }

    auto repaired = RepairWavFiles({dir.path(), dir / "missing"});
    std::ranges::sort(repaired);
    std::ranges::sort(expected);
    EXPECT_EQ(repaired, expected);
    for (const Case& c : cases) {
        if (c.repairedData < 0) {
            EXPECT_EQ(test::readBytes(dir / c.name), before[dir / c.name]) << c.name;
            continue;
        }
        const auto w = test::readWav(dir / c.name);
        ASSERT_TRUE(w) << c.name;
        EXPECT_EQ(w->dataSize, std::uint32_t(c.repairedData)) << c.name;
        EXPECT_EQ(w->riffSize, std::uint32_t(c.repairedData) + 36) << c.name;
    }
    EXPECT_TRUE(RepairWavFiles({dir.path()}).empty());  // a second scan finds nothing to do
}

}  // namespace
}  // namespace kestavo::recording
