// The kestavo-detect program over a WAV file: the JSON lines an operator reads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/signal_gen.h"
#include "support/temp_dir.h"
#include "support/wav_io.h"

using namespace kestavo;

namespace {

std::string runTool(const std::string& args) {
    const std::string cmd = std::string(KESTAVO_BINARY_DIR) + "/tools/kestavo-detect " + args + " 2>&1";
    std::string out;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

std::vector<std::int16_t> pcm(const test::Signal& s) {
    std::vector<std::int16_t> out(s.size());
    for (std::size_t i = 0; i < s.size(); ++i)
        out[i] = std::int16_t(std::lround(std::clamp(s[i], -1.0, 0.99997) * 32768.0));
    return out;
}

}  // namespace

TEST(DetectTool, ReportsTheOperatorsRecordingAndTheDialledNumberOnTheChosenSide) {
    test::TempDir dir("kestavo-detect");
    test::Signal right = test::silence(test::samplesOf(500.0));
    test::append(right, test::dtmfNumber("4951234", -10.0, 80.0, 80.0));
    test::append(right, test::silence(test::samplesOf(7000.0)));
    const auto r = pcm(right);
    std::vector<std::int16_t> stereo(r.size() * 2, 0);
    for (std::size_t i = 0; i < r.size(); ++i) stereo[2 * i + 1] = r[i];
    test::writeWav16(dir / "call.wav", 2, stereo);

    const std::string out = runTool("--side R DTMF=1 --start-at 100 --stop-at " + std::to_string(r.size() - 10) + " " +
                                    (dir / "call.wav").string());
    std::istringstream lines(out);
    std::string first, second, third;
    std::getline(lines, first);
    std::getline(lines, second);
    std::getline(lines, third);
    EXPECT_EQ(first, R"({"sample":100,"kind":"start"})");
    EXPECT_NE(second.find(R"("kind":"dtmf","text":"4951234")"), std::string::npos) << second;
    EXPECT_EQ(third, R"({"sample":)" + std::to_string(r.size() - 10) + R"(,"kind":"stop","text":"4951234"})");

    // The left side is silent: nothing is dialled there.
    const std::string left = runTool("--side L DTMF=1 PulseREC=0 " + (dir / "call.wav").string());
    EXPECT_EQ(left, "");
}

TEST(DetectTool, RefusesWhatItCannotRead) {
    test::TempDir dir("kestavo-detect");
    std::ofstream(dir / "bad.wav") << "not a wav";
    EXPECT_NE(runTool((dir / "bad.wav").string()).find("not a WAV file"), std::string::npos);
    EXPECT_NE(runTool("POROG=abc x.wav").find("not a number"), std::string::npos);
    test::writeWav16(dir / "fast.wav", 1, std::vector<std::int16_t>(100), 8000);
    EXPECT_NE(runTool((dir / "fast.wav").string()).find("11025"), std::string::npos);
}
