// kestavo-detect --plugin: the decoder plug-ins run over a recording, one JSON line per result.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <algorithm>
#include <cstdio>
#include <fstream>

#include "support/channel_fixture.h"
#include "support/decoder_signals.h"
#include "support/wav_io.h"

using namespace kestavo;

namespace {

struct ToolRun {
    std::string out;
    int status;
};
ToolRun runTool(const std::string& args) {
    FILE* p = ::popen((std::string(KESTAVO_BINARY_DIR) + "/tools/kestavo-detect " + args + " 2>&1").c_str(), "r");
    std::string out;
    for (char buf[4096]; const std::size_t n = std::fread(buf, 1, sizeof buf, p);) out.append(buf, n);
    const int status = ::pclose(p);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}
std::string plugin(const char* name) { return std::string(KESTAVO_PLUGIN_DIR) + "/" + name; }

}  // namespace

TEST(DetectPlugins, PrintsEachResultOfEachPluginWithItsSampleExtraAndAction) {
    test::TempDir dir("kestavo-detect-plugins");
    // A caller announced by FSK, then a dialled number, on a line whose channel never records.
    test::Signal s = test::silence(1000);
    test::append(s,
                 test::fsk(test::callerIdBits(test::mdmf({{0x01, "03151430"}, {0x02, "5551234"}, {0x07, "BOB"}})),
                           test::kV23, 0.1));
    const std::size_t dialAt = s.size() + test::samplesOf(500.0);
    test::append(s, test::silence(test::samplesOf(500.0)));
    test::append(s, test::dtmfNumber("4951", -15.0, 60.0, 60.0));
    test::append(s, test::silence(test::samplesOf(1500.0)));
    test::writeWav16(dir / "call.wav", 1, test::pcm16(s));
    const auto run = runTool("AON=0 Pulse=0 --plugin " + plugin("fsk_callerid.plg") + " --plugin " +
                             plugin("dtmf_q24.plg") + " " + (dir / "call.wav").string());
    EXPECT_EQ(run.status, 0) << run.out;
    // Two lines, in the order the results came; the sample numbers lie where the signals end.
    std::size_t fskSample = 0, dtmfSample = 0;
    char fskLine[256], dtmfLine[256];
    ASSERT_EQ(std::sscanf(run.out.c_str(), "{\"sample\":%zu,%255[^\n]\n{\"sample\":%zu,%255[^\n]", &fskSample, fskLine,
                          &dtmfSample, dtmfLine),
              4)
        << run.out;
    EXPECT_EQ(std::string(fskLine), R"("kind":"plugin","text":"5551234","extra":"BOB, 03151430","action":1})");
    EXPECT_EQ(std::string(dtmfLine), R"("kind":"plugin","text":"4951","extra":"","action":1})");
    EXPECT_LT(fskSample, dialAt);
    EXPECT_GT(fskSample, dialAt - test::samplesOf(600.0));
    EXPECT_GT(dtmfSample, dialAt + test::samplesOf(480.0 + 950.0));
    EXPECT_LT(dtmfSample, dialAt + test::samplesOf(480.0 + 1100.0));
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
}

TEST(DetectPlugins, AFileThatIsNotAPluginIsRefusedByName) {
    test::TempDir dir("kestavo-detect-plugins");
    test::writeWav16(dir / "quiet.wav", 1, std::vector<std::int16_t>(1000));
    std::ofstream(dir / "fake.plg") << "not a shared object";
    for (const std::string& file : {(dir / "fake.plg").string(), (dir / "missing.plg").string()}) {
        const auto run = runTool("--plugin " + file + " " + (dir / "quiet.wav").string());
        EXPECT_EQ(run.status, 2) << run.out;
        EXPECT_NE(run.out.find(file), std::string::npos) << run.out;
    }
}
