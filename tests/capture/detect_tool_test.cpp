// The kestavo-detect program over a recording: the JSON lines an operator reads, and what it refuses.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdio>
#include <fstream>
#include <regex>

#include "support/channel_fixture.h"

using namespace kestavo;

namespace {
std::string runTool(const std::string& args) {
    FILE* p = ::popen((std::string(KESTAVO_BINARY_DIR) + "/tools/kestavo-detect " + args + " 2>&1").c_str(), "r");
    std::string out;
    for (char buf[4096]; const std::size_t n = std::fread(buf, 1, sizeof buf, p);) out.append(buf, n);
    return ::pclose(p), out;
}
}  // namespace

TEST(DetectTool, ReportsTheOperatorsRecordingAndTheDialledNumberOnTheChosenSideAndRefusesWhatItCannotRead) {
    test::TempDir dir("kestavo-detect");
    test::Signal right = test::silence(test::samplesOf(500.0));
    test::append(right, test::dtmfNumber("4951234", -10.0, 80.0, 80.0));
    test::append(right, test::silence(test::samplesOf(7000.0)));
    const auto r = test::pcm16(right);
    std::vector<std::int16_t> stereo(r.size() * 2, 0);
    for (std::size_t i = 0; i < r.size(); ++i) stereo[2 * i + 1] = r[i];
    test::writeWav16(dir / "call.wav", 2, stereo);
    const std::string stop = std::to_string(r.size() - 10), file = (dir / "call.wav").string();
    const std::string out = runTool("--side R DTMF=1 --start-at 100 --stop-at " + stop + " " + file);
    const auto dtmf = out.find("\n") + 1;
    EXPECT_EQ(out.substr(0, dtmf), "{\"sample\":100,\"kind\":\"start\"}\n") << out;
    EXPECT_NE(out.find(R"("kind":"dtmf","text":"4951234")", dtmf), std::string::npos) << out;
    EXPECT_EQ(out.substr(out.find("\n", dtmf) + 1),
              R"({"sample":)" + stop +
                  R"(,"kind":"stop","text":"4951234"})"
                  "\n");
    EXPECT_EQ(runTool("--side L DTMF=1 PulseREC=0 " + file), "");  // the left side is silent
    std::ofstream(dir / "bad.wav") << "not a wav";
    test::writeWav16(dir / "mono.wav", 1, std::vector<std::int16_t>(100), 8000);
    for (const auto& [args, says] : {std::pair{(dir / "bad.wav").string(), "not a sound file"},
                                     {"POROG=abc x.wav", "not a number"},
                                     {"--side R " + (dir / "mono.wav").string(), "no side 2"}})
        EXPECT_NE(runTool(args).find(says), std::string::npos) << args;
}

namespace {
// A call as another system records it: half a second of quiet, the caller ID cycle "H10936123H1"
// (the number 216390; its symbols avoid pairs a DTMF receiver would take for keys), a second of quiet, the dialled number in DTMF, seven seconds of quiet (the
// number is handed over once the line has been quiet for a while).
test::Signal callAt(double rate) {
    test::Signal s = test::silence(test::samplesOf(500.0, rate));
    test::append(s, test::aonSymbols("H10936123H1", 0.1, 40.0, rate));
    test::append(s, test::silence(test::samplesOf(1000.0, rate)));
    test::append(s, test::dtmfNumber("4951234", -10.0, 80.0, 80.0, rate));
    test::append(s, test::silence(test::samplesOf(7000.0, rate)));
    return s;
}

void writeSound(const std::filesystem::path& path, int format, double rate, const test::Signal& s) {
    SF_INFO info{};
    info.samplerate = int(rate);
    info.channels = 1;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(sf_writef_double(f, s.data(), sf_count_t(s.size())), sf_count_t(s.size()));
    sf_close(f);
}

// The kinds and texts of the detections, in order.
std::string detections(const std::string& out) {
    static const std::regex kDetection(R"re("kind":"(dtmf|aon)","text":"([^"]*)")re");
    std::string found;
    for (std::sregex_iterator it(out.begin(), out.end(), kDetection), end; it != end; ++it)
        found += (*it)[1].str() + " " + (*it)[2].str() + "\n";
    return found;
}
}  // namespace

TEST(DetectTool, FindsTheSameDialledNumberAndCallerIdWhateverTheRateFormatOrSourceOfTheRecording) {
    test::TempDir dir("kestavo-detect-rates");
    const std::string settings = "DTMF=1 AON=1 PulseREC=0 ";
    struct Case {
        const char* name;
        int format;
        double rate;
        bool fromStdin;
    };
    // Standard input is read whole before it is decoded, so one format on it stands for all.
    for (const Case& c : {Case{"call8000.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, false},
                          Case{"call11025.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 11025, false},
                          Case{"call44100.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, false},
                          Case{"call-stdin.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 22050, true}}) {
        const auto path = dir / c.name;
        writeSound(path, c.format, c.rate, callAt(c.rate));
        const std::string out = runTool(settings + (c.fromStdin ? "- < " + path.string() : path.string()));
        EXPECT_EQ(detections(out), "aon 216390\ndtmf 4951234\n") << c.name << "\n" << out;
    }
}
