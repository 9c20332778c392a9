#include "recording/wav_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "support/temp_dir.h"
#include "support/wav_io.h"

namespace kestavo::recording {
namespace {

namespace fs = std::filesystem;

std::vector<std::byte> Samples(const std::vector<std::int16_t>& s) {
    std::vector<std::byte> b(s.size() * 2);
    std::memcpy(b.data(), s.data(), b.size());
    return b;
}

std::vector<std::int16_t> Ramp16(std::size_t n, int first = 0) {
    std::vector<std::int16_t> s(n);
    for (std::size_t i = 0; i < n; ++i) s[i] = std::int16_t((first + int(i) * 37) % 20000 - 10000);
    return s;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

WriterParams Wav() {
    WriterParams p;
    p.format = 0;
    return p;
}

// --- 8-bit conversion -------------------------------------------------------------------------

TEST(Twav_writer, EightBitConversionRoundsHalvesToEvenAndClamps) {
    // Documented edge values.
    EXPECT_EQ(Twav_writer::To8Bit(32767), 255);
    EXPECT_EQ(Twav_writer::To8Bit(-32768), 0);
    EXPECT_EQ(Twav_writer::To8Bit(0), 128);
    EXPECT_EQ(Twav_writer::To8Bit(256), 129);
    // Exact halves: 128/256 = 0.5 → 128 (even), 384/256 = 1.5 → 130 (even), -128/256 → 128.
    EXPECT_EQ(Twav_writer::To8Bit(128), 128);
    EXPECT_EQ(Twav_writer::To8Bit(384), 130);
    EXPECT_EQ(Twav_writer::To8Bit(-128), 128);
    EXPECT_EQ(Twav_writer::To8Bit(-384), 126);
    // Every value against the floating-point formula under round-to-nearest-even.
    for (int s = -32768; s <= 32767; ++s) {
        const double v = std::nearbyint(s * (1.0 / 32768.0) * 128.0 + 128.0);
        ASSERT_EQ(Twav_writer::To8Bit(std::int16_t(s)), std::uint8_t(std::clamp(v, 0.0, 255.0))) << s;
    }
}

// --- header -----------------------------------------------------------------------------------

TEST(Twav_writer, EmptyRecordingIsA44ByteFileWithSizes36And0) {
    test::TempDir dir;
    Twav_writer w(Wav());
    w.SetPredTime(0);  // the buffer keeps its one-block minimum, but nothing was put in
    ASSERT_FALSE(w.Open(dir / "empty"));
    const std::string path = w.Close("");
    EXPECT_EQ(path, dir / "empty.wav");
    const std::vector<std::uint8_t> expected = {'R',  'I',  'F', 'F', 36,  0,   0,   0,   'W', 'A', 'V', 'E',
                                                'f',  'm',  't', ' ', 16,  0,   0,   0,   1,   0,   1,   0,
                                                0x11, 0x2B, 0,   0,  // 11025
                                                0x22, 0x56, 0,   0,  // 22050 bytes per second
                                                2,    0,    16,  0,   'd', 'a', 't', 'a', 0,   0,   0,   0};
    EXPECT_EQ(ReadAll(path), expected);
}

TEST(Twav_writer, NormalRecordingHeaderIsByteExactAndDataFollows) {
    test::TempDir dir;
    Twav_writer w(Wav());
    w.SetFilebits(8);
    ASSERT_FALSE(w.Open(dir / "rec"));
    const auto s = Ramp16(1000);
    w.Write(Samples(s));
    w.Write(Samples(s));
    const auto bytes = ReadAll(w.Close(""));
    const std::vector<std::uint8_t> header = {'R',  'I',  'F', 'F', 0xF4, 0x07, 0,   0,  // 2000 + 36 = 2036
                                              'W',  'A',  'V', 'E', 'f',  'm',  't', ' ', 16,   0,    0, 0,
                                              1,    0,    1,   0,   0x11, 0x2B, 0,   0,  // 11025
                                              0x11, 0x2B, 0,   0,  // 11025 bytes per second at 8 bits
                                              1,    0,    8,   0,   'd',  'a',  't', 'a', 0xD0, 0x07, 0, 0};  // 2000
    ASSERT_EQ(bytes.size(), 44u + 2000u);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), bytes.begin()));
    for (std::size_t i = 0; i < 2000; ++i) ASSERT_EQ(bytes[44 + i], Twav_writer::To8Bit(s[i % 1000])) << i;
}

// --- pre-record -------------------------------------------------------------------------------

TEST(Twav_writer, PreRecordedSoundIsWrittenFirst) {
    test::TempDir dir;
    WriterParams params = Wav();
    params.minPreRecordBytes = 16384;  // a writer made by a format switch: below one second
    Twav_writer w(params);
    w.SetPredTime(1);  // 22050 bytes
    const auto before = Ramp16(16384, 1);
    const auto after = Ramp16(5000, 2);
    w.Write(Samples(before));  // 32768 bytes: only the newest 22050 stay
    ASSERT_FALSE(w.Open(dir / "pre"));
    w.Write(Samples(after));
    const auto wav = test::readWav(w.Close(""));
    ASSERT_TRUE(wav);
    std::vector<std::int16_t> expected(before.end() - 11025, before.end());
    expected.insert(expected.end(), after.begin(), after.end());
    EXPECT_EQ(wav->samples16(), expected);
    EXPECT_EQ(wav->dataSize, expected.size() * 2);
    EXPECT_EQ(wav->riffSize, expected.size() * 2 + 36);
}

TEST(Twav_writer, PreRecordedSoundIsConvertedToEightBitsLikeTheRest) {
    test::TempDir dir;
    Twav_writer w(Wav());
    w.SetFilebits(8);
    w.Write(Samples({32767, -32768, 0, 256}));
    ASSERT_FALSE(w.Open(dir / "pre8"));
    w.Write(Samples({256, 0}));
    const auto bytes = ReadAll(w.Close(""));
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 44, bytes.end()),
              (std::vector<std::uint8_t>{255, 0, 128, 129, 129, 128}));
}

TEST(Twav_writer, SoundArrivingWhileOpenDoesNotReachTheNextPreRecord) {
    test::TempDir dir;
    Twav_writer w(Wav());
    ASSERT_FALSE(w.Open(dir / "a"));
    w.Write(Samples(Ramp16(100)));
    (void)w.Close("");
    const auto between = Ramp16(50, 9);
    w.Write(Samples(between));
    ASSERT_FALSE(w.Open(dir / "b"));
    const auto wav = test::readWav(w.Close(""));
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->samples16(), between);
}

// --- names ------------------------------------------------------------------------------------

TEST(Twav_writer, EventTextReplacesEverythingFromTheFirstDot) {
    test::TempDir dir;
    Twav_writer w(Wav());
    ASSERT_FALSE(w.Open(dir / "L1_05_12_2026 16_05_09_3"));
    EXPECT_EQ(w.Close("52"), dir / "L1_05_12_2026 16_05_09_3(52).wav");
    EXPECT_TRUE(fs::exists(dir / "L1_05_12_2026 16_05_09_3(52).wav"));
    EXPECT_FALSE(fs::exists(dir / "L1_05_12_2026 16_05_09_3.wav"));

    ASSERT_FALSE(w.Open(dir / "v1.5 take"));
    EXPECT_EQ(w.Close("777"), dir / "v1(777).wav");
    EXPECT_EQ(w.FileName(), dir / "v1(777).wav");
}

TEST(Twav_writer, NoRecordingEverReplacesAnother) {
    test::TempDir dir;
    Twav_writer w(Wav());
    std::vector<std::string> names;
    for (int i = 0; i < 3; ++i) {  // three recordings in the same second get the same base name
        ASSERT_FALSE(w.Open(dir / "same"));
        w.Write(Samples(Ramp16(10, i)));
        names.push_back(w.Close(""));
    }
    EXPECT_EQ(names, (std::vector<std::string>{dir / "same.wav", dir / "same_2.wav", dir / "same_3.wav"}));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(test::readWav(names[i])->samples16(), Ramp16(10, i));

    // The renamed files keep apart too.
    ASSERT_FALSE(w.Open(dir / "x"));
    EXPECT_EQ(w.Close("52"), dir / "x(52).wav");
    ASSERT_FALSE(w.Open(dir / "x"));
    EXPECT_EQ(w.Close("52"), dir / "x(52)_2.wav");
}

TEST(Twav_writer, EventTextCannotLeaveTheRecordingFolder) {
    EXPECT_EQ(CleanEventText("../../etc/passwd"), "....etcpasswd");
    EXPECT_EQ(CleanEventText("a\\b/c"), "abc");
    EXPECT_EQ(CleanEventText("12\n3\t4\x7f"), "1234");
    EXPECT_EQ(CleanEventText("<a>:\"b|?*"), "ab");
    EXPECT_EQ(CleanEventText("  +7 495 "), "+7 495");
    EXPECT_EQ(CleanEventText("Вызов 52"), "Вызов 52");
    EXPECT_EQ(CleanEventText("/\\\n"), "");
    EXPECT_EQ(CleanEventText(std::string(40, 'x') + std::string("ЖЖЖЖЖЖЖЖЖЖЖЖЖ")).size(), 64u);
    EXPECT_EQ(CleanEventText(std::string(41, 'x') + std::string("ЖЖЖЖЖЖЖЖЖЖЖЖЖ")).size(), 63u);  // not mid-letter

    test::TempDir dir;
    Twav_writer w(Wav());
    ASSERT_FALSE(w.Open(dir / "r"));
    EXPECT_EQ(w.Close("../x"), dir / "r(..x).wav");
    ASSERT_FALSE(w.Open(dir / "s"));
    EXPECT_EQ(w.Close("/\n"), dir / "s.wav");  // nothing left: the name stays
}

// --- crash safety and faults ------------------------------------------------------------------

TEST(Twav_writer, SizesAreCurrentWhileTheFileIsStillOpen) {
    test::TempDir dir;
    Twav_writer w(Wav());
    ASSERT_FALSE(w.Open(dir / "live"));
    const auto s = Ramp16(16384);
    w.Write(Samples(s));
    w.Write(Samples(s));
    // Read as another program would while recording goes on (as after a power cut).
    const auto wav = test::readWav(w.FileName());
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->dataSize, 65536u);
    EXPECT_EQ(wav->riffSize, 65536u + 36);
    EXPECT_EQ(wav->bytes.size(), 65536u);
    (void)w.Close("");
}

TEST(Twav_writer, DeleteFileRemovesTheRecordingUnderItsFinalName) {
    test::TempDir dir;
    Twav_writer w(Wav());
    ASSERT_FALSE(w.Open(dir / "short"));
    const std::string path = w.Close("5");
    ASSERT_TRUE(fs::exists(path));
    EXPECT_FALSE(w.DeleteFile());
    EXPECT_FALSE(fs::exists(path));
}

// A disk that fills after `diskRoom` bytes of sample data.
std::size_t diskRoom = 0;
ssize_t FullDiskPwrite(int fd, const void* data, std::size_t bytes, off_t offset) {
    if (offset < off_t(Twav_writer::kHeaderBytes)) return SystemFileOps().pwrite(fd, data, bytes, offset);
    const std::size_t end = std::size_t(offset) - Twav_writer::kHeaderBytes;
    if (end >= diskRoom) {
        errno = ENOSPC;
        return -1;
    }
    return SystemFileOps().pwrite(fd, data, std::min(bytes, diskRoom - end), offset);
}

TEST(Twav_writer, AFullDiskKeepsWhatWasWrittenAndTheFileStaysValid) {
    test::TempDir dir;
    FileOps ops = SystemFileOps();
    ops.pwrite = FullDiskPwrite;
    diskRoom = 1001;  // half a sample fits after 500 whole ones
    Twav_writer w(Wav());
    w.SetFileOps(ops);
    ASSERT_FALSE(w.Open(dir / "full"));
    const auto s = Ramp16(800);
    w.Write(Samples(s));    // fills the disk mid-block
    w.Write(Samples(s));    // nothing fits
    diskRoom = 1000 + 200;  // some room again: the next block continues at the last whole sample
    w.Write(Samples(Ramp16(100, 5)));
    const auto wav = test::readWav(w.Close(""));
    ASSERT_TRUE(wav);
    std::vector<std::int16_t> expected(s.begin(), s.begin() + 500);
    const auto more = Ramp16(100, 5);
    expected.insert(expected.end(), more.begin(), more.end());
    EXPECT_EQ(wav->dataSize, 1200u);
    const auto got = wav->samples16();
    ASSERT_GE(got.size(), 600u);
    EXPECT_EQ(std::vector<std::int16_t>(got.begin(), got.begin() + 600), expected);
}

int FailingOpen(const char*, int, mode_t) {
    errno = EACCES;
    return -1;
}

TEST(Twav_writer, OpenFailureLeavesTheWriterClosedAndCollectingPreRecord) {
    test::TempDir dir;
    FileOps ops = SystemFileOps();
    ops.open = FailingOpen;
    Twav_writer w(Wav());
    w.SetFileOps(ops);
    const std::error_code ec = w.Open(dir / "no");
    EXPECT_EQ(ec, std::errc::permission_denied);
    EXPECT_FALSE(w.IsOpen());
    EXPECT_EQ(w.OpenErrorText(), "Ошибка создания файла " + (dir / "no.wav").string() + "!");
    w.Write(Samples(Ramp16(10)));
    EXPECT_EQ(w.PreRecord().filled(), 20u);
    w.SetFileOps(SystemFileOps());
    ASSERT_FALSE(w.Open(dir / "yes"));
    EXPECT_EQ(test::readWav(w.Close(""))->samples16(), Ramp16(10));
}

TEST(Twav_writer, DestructionCompletesAnOpenFile) {
    test::TempDir dir;
    std::string path;
    {
        Twav_writer w(Wav());
        ASSERT_FALSE(w.Open(dir / "d"));
        w.Write(Samples(Ramp16(300)));
        path = w.FileName();
    }
    const auto wav = test::readWav(path);
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->dataSize, 600u);
}

}  // namespace
}  // namespace kestavo::recording
