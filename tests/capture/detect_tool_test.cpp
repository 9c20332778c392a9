// The kestavo-detect program over a WAV file: the JSON lines an operator reads, and what it refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

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
    test::writeWav16(dir / "fast.wav", 1, std::vector<std::int16_t>(100), 8000);
    for (const auto& [args, says] : {std::pair{(dir / "bad.wav").string(), "not a WAV file"},
                                     {"POROG=abc x.wav", "not a number"},
                                     {(dir / "fast.wav").string(), "11025"}})
        EXPECT_NE(runTool(args).find(says), std::string::npos) << args;
}
