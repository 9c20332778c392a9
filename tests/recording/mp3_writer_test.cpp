// Tmp3_writer: every file is walked frame by frame and decoded back with mpg123, a decoder that
// shares no code with LAME; its length tells how much pre-record it got.
#include "recording/mp3_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "platform/line_rate.h"
#include "support/signal_gen.h"
#include "support/temp_dir.h"
#include "support/wav_io.h"

namespace kestavo::recording {
namespace {

// Hands `sound` (full scale 1.0) to the writer as 16-bit samples in channel-sized blocks of 16384.
void feed(Tsound_writer& w, const test::Signal& sound) {
    for (std::size_t at = 0; at < sound.size(); at += 16384) {
        std::vector<std::int16_t> block;
        for (std::size_t i = at; i < std::min(sound.size(), at + 16384); ++i)
            block.push_back(std::int16_t(std::lround(sound[i] * 32767.0)));
        w.Write(std::as_bytes(std::span(block)));
    }
}

struct Decoded {
    std::vector<std::int16_t> samples;
    std::string messages;  // what the decoder said on stderr
    [[nodiscard]] double seconds() const { return double(samples.size()) / kLineRate; }
    [[nodiscard]] double rms(double from, double to) const {
        const std::size_t a = std::size_t(from * kLineRate), b = std::min(samples.size(), std::size_t(to * kLineRate));
        double sum = 0.0;
        for (std::size_t i = a; i < b; ++i) sum += double(samples[i]) * samples[i];
        return b > a ? std::sqrt(sum / double(b - a)) : 0.0;
    }
};

Decoded decode(const std::string& mp3) {
    const std::string wav = mp3 + ".decoded.wav", err = mp3 + ".err";
    Decoded d;
    if (std::system(("mpg123 -q -w '" + wav + "' '" + mp3 + "' 2> '" + err + "'").c_str()) != 0)
        d.messages = "mpg123 failed. ";
    const auto e = test::readBytes(err);
    d.messages.append(e.begin(), e.end());
    if (const auto w = test::readWav(wav)) d.samples = w->samples16();
    return d;
}

// Walks the file by the MPEG audio header layout (ISO 11172-3 / 13818-3 and the MPEG 2.5
// extension): every frame whole and saying MPEG 2.5 Layer III with CRC (FF E2), `kbps`, 11025 Hz
// (rate index 0), mono, not copyrighted, original; and no Xing/Info frame in front.
void checkFrames(const std::vector<std::uint8_t>& f, int kbps) {
    static const int kKbps[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    std::size_t at = 0;
    for (int frame = 0; at + 4 <= f.size(); ++frame) {
        const std::uint8_t* h = f.data() + at;
        ASSERT_TRUE(h[0] == 0xFF && h[1] == 0xE2 && kKbps[h[2] >> 4] == kbps && (h[2] & 0x0C) == 0 &&
                    (h[3] & 0xCC) == 0xC4)
            << "frame " << frame;
        at += std::size_t(72 * 1000 * kKbps[h[2] >> 4] / 11025 + ((h[2] >> 1) & 1));  // 576 samples a frame
    }
    EXPECT_EQ(at, f.size()) << "the last frame is cut";
    const std::string front(f.begin(), f.begin() + std::min<std::size_t>(f.size(), 256));
    EXPECT_TRUE(front.find("Xing") == std::string::npos && front.find("Info") == std::string::npos);
}

TEST(Tmp3_writer, EveryRateGivesWholeFramesWithTheRightPreRecordAndTheirOwnSoundToTheEnd) {
    test::TempDir dir;
    // 128 kbit/s does not exist at 11025 Hz: LAME encodes 64, and the pre-record keeps 2 s of that.
    for (const auto& [asked, effective] : {std::pair{8, 8}, {32, 32}, {64, 64}, {128, 64}}) {
        Tmp3_writer w(WriterParams{.format = FileFormat::Mp3, .predSeconds = 2, .mp3Bitrate = asked == 8 ? 32 : 8});
        w.SetMp3Params(asked, 4, kLineRate);  // a new encoder, and a pre-record sized for its rate
        ASSERT_TRUE(w.Ready());
        EXPECT_EQ(w.EffectiveBitrate(), effective);
        // The first file gets 2 s of the 5 s before it; the second only the 0.5 s since the first;
        // the third, without pre-record, nothing of the loud 3 s before it.
        for (const auto& [before, pred, seconds] : {std::tuple{5.0, 2, 4.0}, {0.5, 2, 2.5}, {3.0, 0, 2.0}}) {
            if (pred == 0) w.SetPredTime(0);
            feed(w, test::speechLike(before, 0.5, 1));
            ASSERT_FALSE(w.Open(dir / ("rate" + std::to_string(asked))));
            feed(w, test::silence(kLineRate));
            feed(w, test::tone(500.0, 0.25, kLineRate));
            const std::string path = w.Close("");
            checkFrames(test::readBytes(path), effective);
            const Decoded d = decode(path);
            EXPECT_EQ(d.messages, "") << asked;
            EXPECT_NEAR(d.seconds(), seconds, 0.2) << asked << " " << before;
            if (pred == 0) {
                EXPECT_LT(d.rms(0.0, 1.0), 30.0) << asked;  // silence from the trigger on
            }
            EXPECT_GT(d.rms(d.seconds() - 0.7, 99.0), 4000.0) << "the tone to the end " << asked << " " << before;
        }
    }
}

}  // namespace
}  // namespace kestavo::recording
