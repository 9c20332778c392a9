#include "app/event_log.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace kestavo::app {

const char* CauseName(capture::RecordCause cause) {
    switch (cause) {
        case capture::RecordCause::Operator: return "operator";
        case capture::RecordCause::Level: return "level";
        case capture::RecordCause::Voice: return "voice";
        case capture::RecordCause::Identifier: return "identifier";
        case capture::RecordCause::Schedule: return "schedule";
        case capture::RecordCause::MaxTime: return "maximum time";
        case capture::RecordCause::Shutdown: return "shutdown";
        case capture::RecordCause::DeviceLost: return "device lost";
        case capture::RecordCause::DeviceBack: return "device back";
    }
    return "";
}

const char* OutcomeName(capture::RecordOutcome outcome) {
    switch (outcome) {
        case capture::RecordOutcome::Kept: return "kept";
        case capture::RecordOutcome::TooShort: return "too short";
        case capture::RecordOutcome::NoFile: return "no file";
    }
    return "";
}

const char* DetectionName(capture::DetectionKind kind) {
    switch (kind) {
        case capture::DetectionKind::CallerId: return "caller id";
        case capture::DetectionKind::Dtmf: return "dtmf";
        case capture::DetectionKind::Pulse: return "pulse";
        case capture::DetectionKind::Plugin: return "plugin";
    }
    return "";
}

namespace {

std::string pathOrNull(const std::string& path) { return path.empty() ? "null" : JsonString(path); }

std::uint32_t le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
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

std::string IsoTime(const platform::LocalTime& t) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second, t.millisecond);
    return buf;
}

std::optional<double> WavSeconds(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char head[12];
    if (!in.read(reinterpret_cast<char*>(head), 12) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return std::nullopt;
    std::uint32_t byteRate = 0;
    for (unsigned char chunk[8]; in.read(reinterpret_cast<char*>(chunk), 8);) {
        const std::uint32_t size = le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
            unsigned char fmt[16];
            if (!in.read(reinterpret_cast<char*>(fmt), 16)) return std::nullopt;
            byteRate = le32(fmt + 8);
            in.seekg(std::streamoff(size - 16 + (size & 1)), std::ios::cur);
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (byteRate == 0) return std::nullopt;
            return double(size) / double(byteRate);
        } else {
            in.seekg(std::streamoff(size + (size & 1)), std::ios::cur);
        }
    }
    return std::nullopt;
}

EventLog::~EventLog() {
    if (owned_) std::fclose(out_);
}

std::unique_ptr<EventLog> EventLog::Open(const std::string& target, std::string& error) {
    if (target == "-") return std::make_unique<EventLog>(stdout);
    std::FILE* f = std::fopen(target.c_str(), "a");
    if (!f) {
        error = "cannot open the events file " + target + ": " + std::strerror(errno);
        return nullptr;
    }
    auto log = std::make_unique<EventLog>(f);
    log->owned_ = true;
    return log;
}

void EventLog::Record(const Activity& a) {
    const capture::ChannelReport& r = a.report;
    std::string line = "{\"time\":" + JsonString(IsoTime(a.time));
    const std::string channel = ",\"channel\":" + std::to_string(r.channel);
    switch (r.kind) {
        case capture::ChannelReport::Kind::Started:
            started_[r.channel] = a.time;
            line += ",\"event\":\"started\"" + channel + ",\"cause\":" + JsonString(CauseName(r.cause)) +
                ",\"path\":" + pathOrNull(r.file);
            break;
        case capture::ChannelReport::Kind::Stopped: {
            std::optional<double> seconds;
            if (r.outcome == capture::RecordOutcome::Kept && !r.file.empty()) seconds = WavSeconds(r.file);
            if (!seconds) {
                const auto began = started_.find(r.channel);
                seconds = began == started_.end()
                    ? 0.0
                    : double(platform::toLocalMs(a.time) - platform::toLocalMs(began->second)) / 1000.0;
            }
            started_.erase(r.channel);
            char duration[32];
            std::snprintf(duration, sizeof duration, "%.3f", *seconds);
            const bool kept = r.outcome == capture::RecordOutcome::Kept;
            line += ",\"event\":\"stopped\"" + channel + ",\"cause\":" + JsonString(CauseName(r.cause)) +
                ",\"outcome\":" + JsonString(OutcomeName(r.outcome)) + ",\"path\":" + pathOrNull(kept ? r.file : "") +
                ",\"duration\":" + duration + ",\"text\":" + JsonString(r.text);
            if (r.lostSeconds > 0) line += ",\"lost_seconds\":" + std::to_string(r.lostSeconds);
            break;
        }
        case capture::ChannelReport::Kind::Fault:
            // The recording's file cannot be written (the sound waits), is written again, or was made again.
            line += std::string(",\"event\":") +
                (r.fileRemade       ? "\"file_remade\""
                     : r.error != 0 ? "\"write_fault\""
                                    : "\"write_resumed\"") +
                channel + ",\"path\":" + pathOrNull(r.file) + ",\"error\":" + JsonString(r.text);
            break;
        case capture::ChannelReport::Kind::PluginRefused:
            line += ",\"event\":\"fault\"" + channel + ",\"text\":" + JsonString("plug-in " + r.file + ": " + r.text);
            break;
        case capture::ChannelReport::Kind::Detected:
            line += ",\"event\":\"detected\"" + channel + ",\"kind\":" + JsonString(DetectionName(r.detection)) +
                ",\"text\":" + JsonString(r.text) + ",\"path\":" + pathOrNull(r.file);
            break;
    }
    write_(line + "}");
}

void EventLog::Fault(const platform::LocalTime& time, std::string_view text) {
    write_("{\"time\":" + JsonString(IsoTime(time)) + ",\"event\":\"fault\",\"text\":" + JsonString(text) + "}");
}

void EventLog::write_(const std::string& line) {
    std::fputs((line + "\n").c_str(), out_);
    std::fflush(out_);
}

std::string LogLine(LogLevel level, std::string_view text, bool journal) {
    static constexpr const char* kWords[] = {"error: ", "warning: ", "info: "};
    static constexpr const char* kPriorities[] = {"<3>", "<4>", "<6>"};
    const int i = int(level);
    return (journal ? std::string(kPriorities[i]) : std::string()) + kWords[i] + std::string(text);
}

bool StderrIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (!stream) return false;
    unsigned long long dev = 0, ino = 0;
    if (std::sscanf(stream, "%llu:%llu", &dev, &ino) != 2) return false;
    struct stat st {};
    if (::fstat(2, &st) != 0) return false;
    return (unsigned long long)st.st_dev == dev && (unsigned long long)st.st_ino == ino;
}

void Log(LogLevel level, std::string_view text) {
    static const bool journal = StderrIsJournal();
    std::fputs((LogLine(level, text, journal) + "\n").c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace kestavo::app
