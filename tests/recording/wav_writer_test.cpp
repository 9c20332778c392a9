// Twav_writer: byte-exact headers kept current after every block, pre-record first, 8-bit samples,
// and names that never replace a recording (a disk that misbehaves: write_fault_test.cpp).
#include "recording/wav_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "support/temp_dir.h"
#include "support/wav_io.h"

namespace kestavo::recording {
namespace {

using test::leBytes;

std::vector<std::int16_t> ramp(std::size_t n, int first = 0) {
    std::vector<std::int16_t> s(n);
    for (std::size_t i = 0; i < n; ++i) s[i] = std::int16_t((first + int(i) * 37) % 20000 - 10000);
    return s;
}

TEST(Twav_writer, EightBitSampleIsTheNearestStepWithHalvesToEven) {
    // 8-bit PCM is unsigned with 128 for silence; one step is 256 of the 16-bit range.
    const std::pair<int, int> cases[] = {{-32768, 0}, {-32640, 0}, {-32639, 1},  {-384, 126},  {-129, 127},
                                         {-128, 128}, {0, 128},    {127, 128},   {128, 128},   {129, 129},
                                         {256, 129},  {384, 130},  {32512, 255}, {32640, 255}, {32767, 255}};
    for (const auto& [in, out] : cases) EXPECT_EQ(Twav_writer::To8Bit(std::int16_t(in)), out) << in;
}

TEST(Twav_writer, HeaderIsByteExactAndKeptCurrentAfterEveryBlockInBothSampleSizes) {
    struct Case {
        int bits;
        std::size_t samples;  // before the trigger, and in each of two blocks after it
        std::string header;   // once the file is complete
    };
    // 0 or 3000 samples: 6000 (0x1770) 16-bit data bytes or 3000 (0x0BB8) 8-bit ones; RIFF size 36 more.
    const char* const h0 = "RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\1\0\1\0\x11\x2B\0\0\x22\x56\0\0\2\0\x10\0data\0\0\0\0";
    const char* const h16 =
        "RIFF\x94\x17\0\0WAVEfmt \x10\0\0\0\1\0\1\0\x11\x2B\0\0\x22\x56\0\0\2\0\x10\0data\x70\x17\0\0";
    const char* const h8 =
        "RIFF\xDC\x0B\0\0WAVEfmt \x10\0\0\0\1\0\1\0\x11\x2B\0\0\x11\x2B\0\0\1\0\x08\0data\xB8\x0B\0\0";
    const Case cases[] = {
        {16, 0, std::string(h0, 44)}, {16, 1000, std::string(h16, 44)}, {8, 1000, std::string(h8, 44)}};
    for (const Case& c : cases) {
        test::TempDir dir;
        Twav_writer w(WriterParams{});
        w.SetFilebits(c.bits);
        std::vector<std::int16_t> all;
        for (int part = 0; part < 3; ++part) {
            const auto block = ramp(c.samples, part);
            all.insert(all.end(), block.begin(), block.end());
            w.Write(leBytes(block));
            if (part == 0) {
                ASSERT_FALSE(w.Open(dir / "rec"));  // the first block is pre-record
            }
            if (c.samples == 0) continue;  // an empty file keeps the never-completed 34 and 0 until closed
            const auto live = test::readWav(w.FileName());  // as another program reads it after a power cut
            ASSERT_TRUE(live);
            EXPECT_EQ(live->dataSize, live->bytes.size()) << c.bits << " part " << part;
            EXPECT_EQ(live->riffSize, live->bytes.size() + 36) << c.bits << " part " << part;
        }
        const auto bytes = test::readBytes(w.Close(""));
        ASSERT_GE(bytes.size(), 44u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 44), c.header) << c.bits;
        std::vector<std::uint8_t> data;
        for (const std::int16_t s : all)
            if (c.bits == 8)
                data.push_back(Twav_writer::To8Bit(s));
            else
                data.insert(data.end(), {std::uint8_t(s & 0xFF), std::uint8_t(std::uint16_t(s) >> 8)});
        EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 44, bytes.end()), data) << c.bits;
    }
}

TEST(Twav_writer, NoRecordingEverReplacesAnotherAndTheEventTextJoinsTheName) {
    test::TempDir dir;
    Twav_writer w(WriterParams{});
    const auto record = [&](const std::string& base, const std::string& text, int seed) {
        EXPECT_FALSE(w.Open(dir / base));
        w.Write(leBytes(ramp(10, seed)));
        return std::filesystem::path(w.Close(text)).filename().string();
    };
    EXPECT_EQ(record("same", "", 0), "same.wav");  // three recordings in the same second
    EXPECT_EQ(record("same", "", 1), "same_2.wav");
    EXPECT_EQ(record("same", "", 2), "same_3.wav");
    // Each keeps its own sound, and none of it reaches the next one's pre-record.
    EXPECT_EQ(test::readWav(dir / "same_2.wav")->samples16(), ramp(10, 1));
    EXPECT_EQ(record("L1_05_12_2026 16_05_09_3", "52", 0), "L1_05_12_2026 16_05_09_3(52).wav");
    EXPECT_EQ(record("x", "52", 0), "x(52).wav");
    EXPECT_EQ(record("x", "52", 0), "x(52)_2.wav");
    EXPECT_EQ(record("r", "../x", 0), "r(..x).wav");
    EXPECT_EQ(record("s", "/\n", 0), "s.wav");                // nothing left of the text: the name stays
    EXPECT_EQ(record("v1.5 take", "777", 0), "v1(777).wav");  // the text replaces all from the first dot
    EXPECT_FALSE(w.DeleteFile());                             // a recording too short is deleted under its final name
    EXPECT_FALSE(std::filesystem::exists(dir / "v1(777).wav"));
}

TEST(Twav_writer, EventTextCanOnlyNameAFileInTheRecordingFolder) {
    // At most 64 bytes, and not cut inside a letter: 40 + 12 × 2 bytes stay, 41 + 11 × 2 stay.
    const std::string x40(40, 'x'), x41(41, 'x'), zh12("ЖЖЖЖЖЖЖЖЖЖЖЖ");
    EXPECT_EQ(CleanEventText("../../etc/passwd"), "....etcpasswd");
    EXPECT_EQ(CleanEventText("a\\b/c"), "abc");
    EXPECT_EQ(CleanEventText("12\n3\t4\x7f"), "1234");
    EXPECT_EQ(CleanEventText("<a>:\"b|?*"), "ab");
    EXPECT_EQ(CleanEventText("  +7 495 "), "+7 495");
    EXPECT_EQ(CleanEventText("Вызов 52"), "Вызов 52");
    EXPECT_EQ(CleanEventText("/\\\n"), "");
    EXPECT_EQ(CleanEventText(x40 + zh12 + "Ж"), x40 + zh12);
    EXPECT_EQ(CleanEventText(x41 + zh12 + "Ж"), x41 + zh12.substr(2));
}

}  // namespace
}  // namespace kestavo::recording
