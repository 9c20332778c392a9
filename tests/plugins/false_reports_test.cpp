// Talk-off: the three decoders over more than ten minutes of sound that carries no code — voices,
// music, noise, mains hum and line tones — must report nothing. The counts per sound are printed
// so the rate can be quoted.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "ctcss/ctcss_decoder.h"
#include "dtmf_q24/dtmf_q24_decoder.h"
#include "fsk_callerid/fsk_decoder.h"
#include "support/decoder_signals.h"

using namespace kestavo;

namespace {

struct Sound {
    std::string name;
    test::Signal signal;
};

// 700 s in all, each sound over a -60 dBFS noise floor.
const std::vector<Sound>& sounds() {
    static const std::vector<Sound> all = [] {
        using test::lineTone;
        const auto s = [](double seconds) { return std::size_t(seconds * test::kLineRate); };
        std::vector<Sound> v;
        v.push_back({"man's voice", test::voice(40.0, 0.5, 1, 0.8)});
        v.push_back({"voice", test::voice(40.0, 0.5, 2, 1.0)});
        v.push_back({"woman's voice", test::voice(40.0, 0.5, 3, 1.3)});
        v.push_back({"child's voice", test::voice(40.0, 0.5, 4, 1.6)});
        test::Signal two = test::voice(40.0, 0.4, 5, 0.9);
        test::mixInto(two, test::voice(40.0, 0.3, 6, 1.2));
        v.push_back({"two voices at once", two});
        v.push_back({"music: chords", test::music(60.0, 0.5, 0, 7)});
        v.push_back({"music: melody", test::music(60.0, 0.5, 1, 8)});
        v.push_back({"music: melody and chords", test::music(60.0, 0.5, 2, 9)});
        v.push_back({"white noise -20 dBFS", test::noise(0.1, s(40), 10)});
        v.push_back({"pink noise -20 dBFS", test::pinkNoise(0.1, s(40), 11)});
        v.push_back({"mains hum 50 Hz", test::mainsHum(50.0, 0.1, s(30))});
        v.push_back({"mains hum 60 Hz", test::mainsHum(60.0, 0.1, s(30))});
        v.push_back({"dial tone 425 Hz", lineTone({425}, 0.1, 1000, 0, 30)});
        v.push_back({"dial tone 350+440 Hz", lineTone({350, 440}, 0.1, 1000, 0, 30)});
        v.push_back({"ringing 425 Hz 1/4 s", lineTone({425}, 0.1, 1000, 4000, 30)});
        v.push_back({"ringing 440+480 Hz 2/4 s", lineTone({440, 480}, 0.1, 2000, 4000, 30)});
        v.push_back({"busy 425 Hz 0.5/0.5 s", lineTone({425}, 0.1, 500, 500, 30)});
        v.push_back({"busy 480+620 Hz 0.5/0.5 s", lineTone({480, 620}, 0.1, 500, 500, 30)});
        v.push_back({"voice over hum 50 Hz", test::voice(30.0, 0.5, 12, 1.1)});
        test::mixInto(v.back().signal, test::mainsHum(50.0, 0.03, v.back().signal.size()));
        std::uint32_t seed = 100;
        for (Sound& sound : v) test::mixInto(sound.signal, test::noise(0.001, sound.signal.size(), seed++));
        return v;
    }();
    return all;
}

template <typename Decoder>
std::size_t falseReports(const char* decoderName) {
    std::size_t total = 0;
    double seconds = 0.0;
    for (const Sound& sound : sounds()) {
        Decoder d;
        const auto r = test::reports(d, sound.signal);
        seconds += double(sound.signal.size()) / test::kLineRate;
        total += r.size();
        for (const auto& report : r)
            std::printf("  %s on %s at %.2f s: \"%s\" \"%s\"\n", decoderName, sound.name.c_str(),
                        double(report.sample) / test::kLineRate, report.identifier.c_str(), report.extra.c_str());
    }
    std::printf("%s: %zu false reports in %.0f s of sound without code\n", decoderName, total, seconds);
    return total;
}

}  // namespace

// One test, so the ten minutes of sound are made once.
TEST(FalseReports, NoDecoderReportsAnythingInTenMinutesOfSpeechMusicNoiseHumAndLineTones) {
    double seconds = 0.0;
    for (const Sound& sound : sounds()) seconds += double(sound.signal.size()) / test::kLineRate;
    EXPECT_GE(seconds, 600.0);
    EXPECT_EQ(falseReports<plugins::FskCallerIdDecoder>("fsk_callerid"), 0u);
    EXPECT_EQ(falseReports<plugins::DtmfQ24Decoder>("dtmf_q24"), 0u);
    EXPECT_EQ(falseReports<plugins::CtcssDecoder>("ctcss"), 0u);
}
