#include "recording/mp3_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

#include "support/temp_dir.h"
#include "support/wav_io.h"

namespace kestavo::recording {
namespace {

namespace fs = std::filesystem;
constexpr int kRate = 11025;

// Speech-like test sound: a voiced buzz whose pitch glides, shaped into syllables, plus a little noise.
std::vector<std::int16_t> Speech(std::size_t samples, unsigned seed) {
    std::vector<std::int16_t> s(samples);
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 300.0);
    double phase = 0.0;
    for (std::size_t i = 0; i < samples; ++i) {
        const double t = double(i) / kRate;
        const double pitch = 120.0 + 40.0 * std::sin(2 * std::numbers::pi * 0.7 * t);
        phase += 2 * std::numbers::pi * pitch / kRate;
        double v = 0.0;
        for (int h = 1; h <= 12; ++h) v += std::sin(h * phase) / h;
        const double syllable = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 4.0 * t);
        s[i] = std::int16_t(std::clamp(5000.0 * syllable * v + noise(rng), -32768.0, 32767.0));
    }
    return s;
}

std::vector<std::int16_t> Tone(std::size_t samples, double hz, double amplitude = 8000.0) {
    std::vector<std::int16_t> s(samples);
    for (std::size_t i = 0; i < samples; ++i)
        s[i] = std::int16_t(amplitude * std::sin(2 * std::numbers::pi * hz * double(i) / kRate));
    return s;
}

// Hands `sound` to the writer in channel-sized blocks of 16384 samples.
void Feed(Tsound_writer& w, const std::vector<std::int16_t>& sound) {
    for (std::size_t at = 0; at < sound.size(); at += 16384) {
        const std::size_t n = std::min<std::size_t>(16384, sound.size() - at);
        w.Write(std::as_bytes(std::span(sound.data() + at, n)));
    }
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Decoded {
    std::vector<std::int16_t> samples;
    int rate = 0;
    int channels = 0;
    std::string messages;  // what the decoder said on stderr
};

// Decodes with mpg123, a decoder that shares no code with LAME.
Decoded Decode(const std::string& mp3) {
    const std::string wav = mp3 + ".decoded.wav", err = mp3 + ".err";
    const std::string cmd = "mpg123 -q -w '" + wav + "' '" + mp3 + "' 2> '" + err + "'";
    Decoded d;
    if (std::system(cmd.c_str()) != 0) d.messages = "mpg123 failed. ";
    const auto e = ReadAll(err);
    d.messages.append(e.begin(), e.end());
    if (const auto w = test::readWav(wav)) {
        d.samples = w->samples16();
        d.rate = w->sampleRate;
        d.channels = w->channels;
    }
    return d;
}

double Rms(const std::vector<std::int16_t>& s, double fromSeconds, double toSeconds) {
    const std::size_t a = std::size_t(fromSeconds * kRate), b = std::min(s.size(), std::size_t(toSeconds * kRate));
    double sum = 0.0;
    for (std::size_t i = a; i < b; ++i) sum += double(s[i]) * s[i];
    return b > a ? std::sqrt(sum / double(b - a)) : 0.0;
}

// Walks the file frame by frame by the MPEG audio header layout (ISO 11172-3 / 13818-3 and the
// MPEG 2.5 extension) and checks that every frame is whole and says: MPEG 2.5 Layer III, CRC
// present, `kbps`, 11025 Hz, mono, not copyrighted, original. Returns the number of frames.
int CheckFrames(const std::vector<std::uint8_t>& f, int kbps) {
    static const int kMpeg25Rates[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    std::size_t at = 0;
    int frames = 0;
    while (at < f.size()) {
        EXPECT_GE(f.size() - at, 4u);
        if (f.size() - at < 4) return frames;
        const std::uint8_t* h = f.data() + at;
        EXPECT_EQ(h[0], 0xFF) << "frame " << frames;
        EXPECT_EQ(h[1], 0xE2) << "frame " << frames;  // sync, MPEG 2.5 (00), Layer III (01), CRC (0)
        EXPECT_EQ(kMpeg25Rates[h[2] >> 4], kbps) << "frame " << frames;
        EXPECT_EQ((h[2] >> 2) & 3, 0) << "frame " << frames;  // 11025 Hz in MPEG 2.5
        EXPECT_EQ(h[3] >> 6, 3) << "frame " << frames;        // single channel
        EXPECT_EQ(h[3] & 0x0C, 0x04) << "frame " << frames;   // copyright 0, original 1
        if (h[0] != 0xFF || h[1] != 0xE2) return frames;
        const std::size_t bytes = std::size_t(72 * 1000 * kMpeg25Rates[h[2] >> 4] / 11025 + ((h[2] >> 1) & 1));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(h) + 4, 4).find("Xing"), std::string::npos);
        at += bytes;
        ++frames;
    }
    EXPECT_EQ(at, f.size()) << "the last frame is cut";
    return frames;
}

WriterParams Mp3(int kbps, int predSeconds) {
    WriterParams p;
    p.format = 1;
    p.mp3Bitrate = kbps;
    p.predSeconds = predSeconds;
    return p;
}

TEST(Tmp3_writer, EveryRateGivesWholeFramesThatDecodeCleanlyToTheRecordedLength) {
    test::TempDir dir;
    // 128 kbit/s does not exist at 11025 Hz: LAME encodes 64.
    for (const auto& [asked, effective] : {std::pair{8, 8}, {32, 32}, {64, 64}, {128, 64}}) {
        Tmp3_writer w(Mp3(asked, 2));
        ASSERT_TRUE(w.Ready());
        EXPECT_EQ(w.EffectiveBitrate(), effective);
        Feed(w, Speech(5 * kRate, 1));  // more than the 2 s the pre-record keeps
        ASSERT_FALSE(w.Open(dir / ("rate" + std::to_string(asked))));
        Feed(w, Speech(4 * kRate + 777, 2));
        const std::string path = w.Close("");
        const auto bytes = ReadAll(path);
        CheckFrames(bytes, effective);
        const Decoded d = Decode(path);
        EXPECT_EQ(d.messages, "") << asked;
        EXPECT_EQ(d.rate, kRate);
        EXPECT_EQ(d.channels, 1);
        const double seconds = double(d.samples.size()) / kRate;
        EXPECT_NEAR(seconds, 2.0 + (4.0 * kRate + 777) / kRate, 0.2) << asked;
    }
}

TEST(Tmp3_writer, PreRecordHoldsBitRateTimesSecondsOfEncodedBytes) {
    Tmp3_writer w(Mp3(32, 7));
    w.SetPredTime(5);
    EXPECT_EQ(w.PreRecord().capacity(), 20000u);  // 32 kbit/s × 5 s
    w.SetPredTime(0);
    EXPECT_EQ(w.PreRecord().capacity(), 0u);
    w.SetMp3Params(128, 4, kRate);  // encodes 64: the buffer holds the seconds asked for
    w.SetPredTime(5);
    EXPECT_EQ(w.PreRecord().capacity(), 40000u);
    EXPECT_LE(w.MemoryBytes(), 768u * 1024);
}

TEST(Tmp3_writer, WithoutPreRecordTheFileStartsAtTheTrigger) {
    test::TempDir dir;
    Tmp3_writer w(Mp3(32, 0));
    Feed(w, Tone(3 * kRate, 440.0));  // loud sound before the trigger
    ASSERT_FALSE(w.Open(dir / "trigger"));
    auto after = std::vector<std::int16_t>(kRate, 0);  // one second of silence, then a tone
    const auto tone = Tone(kRate, 1000.0);
    after.insert(after.end(), tone.begin(), tone.end());
    Feed(w, after);
    const Decoded d = Decode(w.Close(""));
    EXPECT_EQ(d.messages, "");
    EXPECT_NEAR(double(d.samples.size()) / kRate, 2.0, 0.2);
    EXPECT_LT(Rms(d.samples, 0.0, 1.0), 30.0);    // nothing of the sound before the trigger
    EXPECT_GT(Rms(d.samples, 1.2, 1.9), 4000.0);  // the tone, a codec delay (0.1 s) after its place
}

TEST(Tmp3_writer, ConsecutiveFilesEachStartOnAFrameAndEndWithTheirOwnSound) {
    test::TempDir dir;
    Tmp3_writer w(Mp3(32, 1));
    std::vector<std::string> files;
    for (int i = 0; i < 3; ++i) {
        Feed(w, Speech(kRate / 2, 10 + i));  // half a second between recordings
        ASSERT_FALSE(w.Open(dir / "seq"));
        Feed(w, Tone(2 * kRate, 500.0 + 200 * i));
        files.push_back(w.Close(""));
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        CheckFrames(ReadAll(files[i]), 32);
        const Decoded d = Decode(files[i]);
        EXPECT_EQ(d.messages, "") << i;
        // Pre-record: what arrived since the last file (0.5 s), not a whole second.
        EXPECT_NEAR(double(d.samples.size()) / kRate, 2.5, 0.2) << i;
        EXPECT_GT(Rms(d.samples, double(d.samples.size()) / kRate - 0.3, 99.0), 4000.0) << "tone to the end " << i;
    }
}

TEST(Tmp3_writer, TwoWritersOnTwoThreadsEncodeExactlyAsOneAlone) {
    test::TempDir dir;
    const auto sound = Speech(6 * kRate, 7);
    const auto record = [&](const std::string& name) {
        Tmp3_writer w(Mp3(32, 1));
        Feed(w, std::vector<std::int16_t>(sound.begin(), sound.begin() + 2 * kRate));
        EXPECT_FALSE(w.Open(dir / name));
        Feed(w, std::vector<std::int16_t>(sound.begin() + 2 * kRate, sound.end()));
        return w.Close("");
    };
    const std::string alone = record("alone");
    std::string a, b;
    {
        std::jthread ta([&] { a = record("a"); });
        std::jthread tb([&] { b = record("b"); });
    }
    const auto reference = ReadAll(alone);
    ASSERT_FALSE(reference.empty());
    EXPECT_EQ(ReadAll(a), reference);
    EXPECT_EQ(ReadAll(b), reference);
}

}  // namespace
}  // namespace kestavo::recording
