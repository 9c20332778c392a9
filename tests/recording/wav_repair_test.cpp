// The start-up repair of WAV recordings a crash left behind, and the files it must leave alone.
#include "recording/wav_repair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "support/temp_dir.h"
#include "support/wav_io.h"

namespace kestavo::recording {
namespace {

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
        {"crash.raw", 100, 34, 0, "", {20, 1}, -1},                         // not named .wav
        {"05_12_2026/other.wav", 1000, 34, 0, "", {20, 1}, -1}              // not named as a recording
    };
    // The recorder's names stand for themselves here: any name but "other".
    const RecordingNameFilter ours = [](const std::filesystem::path& p) { return p.stem() != "other"; };
    const auto setSizes = [](std::vector<std::uint8_t>& b, std::uint32_t riff, std::uint32_t data) {
        for (int i = 0; i < 4; ++i) {
            b[4 + i] = std::uint8_t(riff >> (8 * i));
            b[40 + i] = std::uint8_t(data >> (8 * i));
        }
    };
    test::TempDir dir;
    std::filesystem::create_directories(dir / "05_12_2026" / "deeper");
    std::vector<std::vector<std::uint8_t>> after;  // each file as it must be after the repair
    std::vector<std::filesystem::path> expected;
    for (const Case& c : cases) {
        test::writeWav16(dir / c.name, 1, std::vector<std::int16_t>(c.samples, 1234));
        auto b = test::readBytes(dir / c.name);
        setSizes(b, c.riff, c.data);
        b[std::size_t(c.patch.first)] = std::uint8_t(c.patch.second);
        b.insert(b.end(), c.tail.begin(), c.tail.end());
        test::writeBytes(dir / c.name, b);
        if (c.repairedData >= 0) {
            setSizes(b, std::uint32_t(c.repairedData) + 36, std::uint32_t(c.repairedData));
            expected.push_back(dir / c.name);
        }
        after.push_back(b);
    }
    auto repaired = RepairWavFiles({dir.path(), dir / "missing"}, ours);
    std::ranges::sort(repaired);
    std::ranges::sort(expected);
    EXPECT_EQ(repaired, expected);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(test::readBytes(dir / cases[i].name), after[i]) << cases[i].name;
    EXPECT_TRUE(RepairWavFiles({dir.path()}, ours).empty());  // a second scan finds nothing to do
}

}  // namespace
}  // namespace kestavo::recording
