// kestavo-detect: runs one channel's analysis over a recording exactly as a channel would — in
// blocks of 16384 samples (8192 for 8-bit), through the same channel code and state machine —
// without writing recordings, and prints one JSON object per line for every event the channel
// acts on. Operators use it to find what was dialled in an existing recording. Any file libsndfile
// reads, at any rate (brought to 11025 Hz first), or standard input.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/event_log.h"
#include "capture/channel.h"
#include "command_line.h"
#include "detect_plugins.h"
#include "platform/folders.h"
#include "platform/line_rate.h"
#include "sound_file_input.h"

namespace {

using namespace kestavo;

constexpr const char* kDescription =
    R"(Runs one channel's analysis over FILE (WAV, FLAC, AIFF, Ogg or any other format libsndfile reads,
at any sample rate: other rates than 11025 Hz are resampled to it; "-" reads standard input) and
prints one JSON object per line for every event the channel acts on, in order:
  {"sample":N,"kind":"start"}
  {"sample":N,"kind":"stop","text":"..."}      text: what the stop adds to the file name
  {"sample":N,"kind":"aon"|"dtmf"|"pulse","text":"..."}
  {"sample":N,"kind":"plugin","text":"...","extra":"...","action":A}
                                               each result of a --plugin, whatever the channel is
                                               doing (these come first, in a pass of their own)
  {"sample":N,"kind":"level","db":-42.5}       only with --levels
N is the 0-based index, at 11025 Hz and within the side, of the sample being processed when the
event happened.

KEY=VALUE sets a channel setting by its configuration key (real numbers with "."); a key not given
takes its default:
  VOXmode=0 auto=0 POROG=0 zad_rec=1 zad_stop=15 Min_Time=5 ComboRec=0
  AON=1 DTMF=0 Pulse=1 PPOROG=0.008 PulseREC=1 exp=0 K1_=1.8 K2_=7 AGC=0
(AON: caller ID, DTMF: tone dialling, Pulse: pulse dialling, POROG: level threshold in dB,
zad_rec/zad_stop: start and stop delays in seconds; docs/configuration.md explains every key.))";

constexpr const char* kExitCodes =
    "  0  the recording was analysed (or --help/--version)\n"
    "  1  the recording could not be read\n"
    "  2  the command line was refused (a --plugin that names no plug-in too)";

// Everything the command line sets.
struct DetectOptions {
    std::string file;  // "-": standard input
    int side = 0;      // 0 left, 1 right
    bool levels = false;
    std::vector<std::uint64_t> startAt, stopAt;
    std::vector<std::string> plugins;
    std::string outPath;
    std::map<std::string, double> keys = {{"VOXmode", 0},   {"auto", 0},     {"POROG", 0},      {"zad_rec", 1},
                                          {"zad_stop", 15}, {"Min_Time", 5}, {"ComboRec", 0},   {"AON", 1},
                                          {"DTMF", 0},      {"Pulse", 1},    {"PPOROG", 0.008}, {"PulseREC", 1},
                                          {"exp", 0},       {"K1_", 1.8},    {"K2_", 7},        {"AGC", 0}};
};

std::optional<double> number(std::string_view s) {
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc{} || r.ptr != s.data() + s.size()) return std::nullopt;
    return v;
}

// Parses the command line into `o`. The exit code when the program should end now.
std::optional<int> parseOptions(int argc, char** argv, DetectOptions& o) {
    CLI::App app(kDescription, "kestavo-detect");
    program::AddCommonOptions(app, kExitCodes);
    std::string side = "L";
    std::vector<std::string> operands;
    app.add_option("--side", side, "which side of a stereo file: L (the default) or R")
        ->check(CLI::IsMember({"L", "R"}));
    app.add_option("--start-at", o.startAt, "the operator's record just before sample N (repeatable)")
        ->type_name("N")
        ->allow_extra_args(false);
    app.add_option("--stop-at", o.stopAt, "the operator's stop just before sample N (repeatable)")
        ->type_name("N")
        ->allow_extra_args(false);
    app.add_flag("--levels", o.levels, "also print every level value");
    app.add_option("--plugin", o.plugins, "run the plug-in FILE.plg over the recording (repeatable)")
        ->type_name("NAME")
        ->allow_extra_args(false);
    app.add_option("--out", o.outPath, "write the processed samples (after compressor, AGC and clipping) as WAV")
        ->type_name("FILE.wav");
    app.add_option("operands", operands, "KEY=VALUE settings, then the recording (or - for standard input)")
        ->type_name("[KEY=VALUE ...] FILE");
    if (const auto code = program::ParseCommandLine(app, {argv + 1, argv + argc})) return code;
    o.side = side == "R" ? 1 : 0;

    auto fail = [](const std::string& m) {
        std::fprintf(stderr, "kestavo-detect: error: %s (try --help)\n", m.c_str());
        return program::kExitUsage;
    };
    for (const std::string& a : operands) {
        if (const auto eq = a.find('='); eq != std::string::npos) {
            const std::string key = a.substr(0, eq);
            if (!o.keys.count(key)) return fail("unknown setting " + key);
            const auto v = number(std::string_view(a).substr(eq + 1));
            if (!v) return fail("the value of " + key + " is not a number");
            o.keys[key] = *v;
        } else if (o.file.empty()) {
            o.file = a;
        } else {
            return fail("unexpected argument " + a);
        }
    }
    if (o.file.empty()) return fail("no recording given");
    return std::nullopt;
}

void writeOut(const std::string& path, int bits, const std::vector<std::uint8_t>& samples) {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.put(char(v >> (8 * i)));
    };
    auto u16 = [&](std::uint16_t v) {
        out.put(char(v));
        out.put(char(v >> 8));
    };
    out.write("RIFF", 4);
    u32(std::uint32_t(samples.size() + 36));
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(kLineRate);
    u32(std::uint32_t(kLineRate * bits / 8));
    u16(std::uint16_t(bits / 8));
    u16(std::uint16_t(bits));
    out.write("data", 4);
    u32(std::uint32_t(samples.size()));
    out.write(reinterpret_cast<const char*>(samples.data()), std::streamsize(samples.size()));
}

struct OutCollector final : capture::MonitorSink {
    std::vector<std::uint8_t> bytes;
    void PutBlock(const std::byte* block, std::uint32_t length, int) override {
        const auto* p = reinterpret_cast<const std::uint8_t*>(block);
        bytes.insert(bytes.end(), p, p + length);
    }
};

}  // namespace

int main(int argc, char** argv) {
    DetectOptions o;
    if (const auto code = parseOptions(argc, argv, o)) return *code;
    std::string error;
    const auto sound = tools::ReadLineSound(o.file, o.side, error);
    if (!sound) {
        std::fprintf(stderr, "kestavo-detect: error: %s\n", error.c_str());
        return 1;
    }
    auto& keys = o.keys;
    const int bytesPerSample = sound->bits / 8;
    const std::vector<std::uint8_t>& samples = sound->bytes;
    if (!o.plugins.empty() && !tools::runPlugins(o.plugins, samples, sound->bits, stdout, error)) {
        std::fprintf(stderr, "kestavo-detect: error: %s\n", error.c_str());
        return 2;  // a --plugin that names no plug-in is a refused command line
    }

    platform::FakeClock clock(platform::LocalTime{2026, 1, 1, 0, 0, 0, 0});
    platform::MainDispatcher dispatcher;
    capture::ChannelEnv env;
    env.clock = &clock;
    env.dispatcher = &dispatcher;
    env.writeFiles = false;
    env.observeLevels = o.levels;
    env.observer = [](const capture::ChannelEvent& e) {
        static const char* kinds[] = {"start", "stop", "aon", "dtmf", "pulse", "plugin", "level"};
        std::string line = "{\"sample\":" + std::to_string(e.sample) + ",\"kind\":\"" + kinds[int(e.kind)] + "\"";
        if (e.kind == capture::ChannelEvent::Kind::Level) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.2f", e.db);
            line += std::string(",\"db\":") + buf;
        } else if (e.kind != capture::ChannelEvent::Kind::Start) {
            line += ",\"text\":" + app::JsonString(e.text);
        }
        std::puts((line + "}").c_str());
    };
    capture::ChannelGlobals globals;
    globals.programFolder = platform::Folders::fromEnvironment().program;
    capture::ChannelParams params;
    params.bits = sound->bits;
    params.samplesPerBlock = sound->bits == 16 ? 16384 : 8192;
    params.threshold = keys["POROG"];
    capture::Tchannel channel(params, env, globals);
    channel.SetRecordMode(capture::RecordMode(int(keys["VOXmode"])));
    channel.SetAutoRecord(keys["auto"] != 0);
    channel.SetThreshold(keys["POROG"]);
    channel.SetDelays(1, keys["zad_rec"], keys["zad_stop"]);
    channel.SetMinTime(int(keys["Min_Time"]));
    channel.SetCombined(keys["ComboRec"] != 0);
    channel.SetAon(keys["AON"] != 0);
    channel.SetDtmf(keys["DTMF"] != 0);
    channel.SetPulse(keys["Pulse"] != 0);
    channel.SetPulseThreshold(keys["PPOROG"]);
    channel.SetDetectOnlyWhileRecording(keys["PulseREC"] != 0);
    channel.SetCompressor(keys["exp"] != 0);
    channel.SetK1(keys["K1_"]);
    channel.SetK2(keys["K2_"]);
    channel.SetAgc(keys["AGC"] != 0);
    for (const auto at : o.startAt) channel.ScheduleOperatorAction(at, true);
    for (const auto at : o.stopAt) channel.ScheduleOperatorAction(at, false);
    OutCollector out;
    if (!o.outPath.empty()) channel.SetMonitor(true, &out);

    const std::size_t blockBytes = std::size_t(params.samplesPerBlock) * std::size_t(bytesPerSample);
    std::vector<std::byte> block(blockBytes);
    for (std::size_t at = 0; at < samples.size(); at += blockBytes) {
        const std::size_t n = std::min(blockBytes, samples.size() - at);
        std::memcpy(block.data(), samples.data() + at, n);
        // The block is handed over once its last sample has been captured.
        const auto captured = std::int64_t((at + n) / std::size_t(bytesPerSample));
        clock.advanceTo(std::chrono::milliseconds(captured * 1000 / kLineRate));
        channel.ProcessBlockNow(block.data(), std::uint32_t(n));
        dispatcher.drain();
    }
    std::fflush(stdout);
    if (!o.outPath.empty()) writeOut(o.outPath, sound->bits, out.bytes);
    return 0;
}
