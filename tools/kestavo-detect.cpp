// kestavo-detect: runs one channel's analysis over a WAV file exactly as a channel would — in
// blocks of 16384 samples (8192 for 8-bit), through the same channel code and state machine —
// without writing recordings, and prints one JSON object per line for every event the channel
// acts on. Operators use it to find what was dialled in an existing recording.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "capture/channel.h"
#include "detect_plugins.h"
#include "platform/folders.h"
#include "platform/line_rate.h"

namespace {

using namespace kestavo;

constexpr const char* kUsage = R"(Usage: kestavo-detect [--side L|R] [KEY=VALUE ...] [--start-at N] [--stop-at N]
                      [--levels] [--plugin FILE.plg] [--out FILE.wav] FILE.wav

Runs one channel's analysis over FILE.wav (11025 Hz, 8- or 16-bit, mono or one side of a stereo
file) and prints one JSON object per line for every event the channel acts on, in order:
  {"sample":N,"kind":"start"}
  {"sample":N,"kind":"stop","text":"..."}      text: what the stop adds to the file name
  {"sample":N,"kind":"aon"|"dtmf"|"pulse","text":"..."}
  {"sample":N,"kind":"level","db":-42.5}       only with --levels
  {"sample":N,"kind":"plugin","text":"...","extra":"...","action":A}
                                               each result of a --plugin, whatever the channel
                                               is doing (these come first, in a pass of their own)
N is the 0-based index (within the side) of the sample being processed when the event happened.

  --side L|R       which side of a stereo file (default L)
  KEY=VALUE        a channel setting by its configuration key; real numbers with "."; a key not
                   given takes its default:
                     VOXmode=0 auto=0 POROG=0 zad_rec=1 zad_stop=15 Min_Time=5 ComboRec=0
                     AON=1 DTMF=0 Pulse=1 PPOROG=0.008 PulseREC=1 exp=0 K1_=1.8 K2_=7 AGC=0
  --start-at N     the operator's record just before sample N (repeatable)
  --stop-at N      the operator's stop just before sample N (repeatable)
  --levels         also print every level value
  --plugin FILE    run the plug-in FILE.plg over the recording (repeatable)
  --out FILE.wav   write the processed samples (after compressor, AGC and clipping)
)";

struct Wav {
    int channels = 0, rate = 0, bits = 0;
    std::vector<std::uint8_t> data;
};

std::uint32_t le32(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }
std::uint16_t le16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }

// Reads a PCM WAV file, walking its chunks; a data chunk whose size runs past the end (a
// recording cut short) is taken as far as it goes.
std::optional<Wav> readWav(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0) {
        error = path + " is not a WAV file";
        return std::nullopt;
    }
    Wav w;
    bool fmt = false;
    for (std::size_t at = 12; at + 8 <= b.size();) {
        const std::uint32_t size = le32(&b[at + 4]);
        const std::size_t body = at + 8;
        if (std::memcmp(&b[at], "fmt ", 4) == 0 && body + 16 <= b.size()) {
            if (le16(&b[body]) != 1) {
                error = path + " is not PCM";
                return std::nullopt;
            }
            w.channels = le16(&b[body + 2]);
            w.rate = int(le32(&b[body + 4]));
            w.bits = le16(&b[body + 14]);
            fmt = true;
        } else if (std::memcmp(&b[at], "data", 4) == 0) {
            const std::size_t end = std::min<std::size_t>(b.size(), body + size);
            w.data.assign(b.begin() + std::ptrdiff_t(body), b.begin() + std::ptrdiff_t(end));
            break;
        }
        at = body + size + (size & 1);
    }
    if (!fmt || (w.bits != 8 && w.bits != 16) || (w.channels != 1 && w.channels != 2)) {
        error = path + ": only 8- or 16-bit PCM, mono or stereo, is supported";
        return std::nullopt;
    }
    if (w.rate != kLineRate) {
        error = path + ": the sample rate must be " + std::to_string(kLineRate) + " Hz (it is " +
            std::to_string(w.rate) + ")";
        return std::nullopt;
    }
    return w;
}

std::string jsonText(std::string_view s) {
    std::string out = "\"";
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::optional<double> number(std::string_view s) {
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc{} || r.ptr != s.data() + s.size()) return std::nullopt;
    return v;
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
    std::map<std::string, double> keys = {{"VOXmode", 0},   {"auto", 0},     {"POROG", 0},      {"zad_rec", 1},
                                          {"zad_stop", 15}, {"Min_Time", 5}, {"ComboRec", 0},   {"AON", 1},
                                          {"DTMF", 0},      {"Pulse", 1},    {"PPOROG", 0.008}, {"PulseREC", 1},
                                          {"exp", 0},       {"K1_", 1.8},    {"K2_", 7},        {"AGC", 0}};
    std::string file, outPath;
    int side = 0;
    bool levels = false;
    std::vector<std::pair<std::uint64_t, bool>> actions;
    std::vector<std::string> plugins;
    auto fail = [](const std::string& m) {
        std::fprintf(stderr, "kestavo-detect: %s\n", m.c_str());
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string(argv[++i]);
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--side") {
            const auto v = next();
            if (!v || (*v != "L" && *v != "R")) return fail("--side takes L or R");
            side = *v == "R" ? 1 : 0;
        } else if (a == "--start-at" || a == "--stop-at") {
            const auto v = next();
            const auto n = v ? number(*v) : std::nullopt;
            if (!n || *n < 0) return fail(a + " takes a sample number");
            actions.emplace_back(std::uint64_t(*n), a == "--start-at");
        } else if (a == "--levels") {
            levels = true;
        } else if (a == "--out") {
            const auto v = next();
            if (!v) return fail("--out takes a file name");
            outPath = *v;
        } else if (a == "--plugin") {
            const auto v = next();
            if (!v) return fail("--plugin takes a file name");
            plugins.push_back(*v);
        } else if (const auto eq = a.find('='); eq != std::string::npos && a[0] != '-') {
            const std::string key = a.substr(0, eq);
            if (!keys.count(key)) return fail("unknown setting " + key + " (see --help)");
            const auto v = number(std::string_view(a).substr(eq + 1));
            if (!v) return fail("the value of " + key + " is not a number");
            keys[key] = *v;
        } else if (!a.empty() && a[0] != '-' && file.empty()) {
            file = a;
        } else {
            return fail("unexpected argument " + a + " (see --help)");
        }
    }
    if (file.empty()) return fail("no WAV file given (see --help)");
    std::string error;
    const auto wav = readWav(file, error);
    if (!wav) return fail(error);
    if (side == 1 && wav->channels != 2) return fail("--side R needs a stereo file");

    // One side of the file, in the capture format.
    const int bytesPerSample = wav->bits / 8;
    std::vector<std::uint8_t> samples;
    const std::size_t frame = std::size_t(bytesPerSample * wav->channels);
    samples.reserve(wav->data.size() / std::max<std::size_t>(1, wav->channels));
    for (std::size_t at = std::size_t(side * bytesPerSample); at + std::size_t(bytesPerSample) <= wav->data.size();
         at += frame)
        samples.insert(samples.end(), wav->data.begin() + std::ptrdiff_t(at),
                       wav->data.begin() + std::ptrdiff_t(at) + bytesPerSample);

    if (!plugins.empty() && !tools::runPlugins(plugins, samples, wav->bits, stdout, error)) return fail(error);

    platform::FakeClock clock(platform::LocalTime{2026, 1, 1, 0, 0, 0, 0});
    platform::MainDispatcher dispatcher;
    capture::ChannelEnv env;
    env.clock = &clock;
    env.dispatcher = &dispatcher;
    env.writeFiles = false;
    env.observeLevels = levels;
    env.observer = [](const capture::ChannelEvent& e) {
        static const char* kinds[] = {"start", "stop", "aon", "dtmf", "pulse", "plugin", "level"};
        std::string line = "{\"sample\":" + std::to_string(e.sample) + ",\"kind\":\"" + kinds[int(e.kind)] + "\"";
        if (e.kind == capture::ChannelEvent::Kind::Level) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.2f", e.db);
            line += std::string(",\"db\":") + buf;
        } else if (e.kind != capture::ChannelEvent::Kind::Start) {
            line += ",\"text\":" + jsonText(e.text);
        }
        std::puts((line + "}").c_str());
    };
    capture::ChannelGlobals globals;
    globals.programFolder = platform::Folders::fromEnvironment().program;
    capture::ChannelParams params;
    params.bits = wav->bits;
    params.samplesPerBlock = wav->bits == 16 ? 16384 : 8192;
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
    for (const auto& [at, start] : actions) channel.ScheduleOperatorAction(at, start);
    OutCollector out;
    if (!outPath.empty()) channel.SetMonitor(true, &out);

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
    if (!outPath.empty()) writeOut(outPath, wav->bits, out.bytes);
    return 0;
}
