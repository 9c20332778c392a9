#include "app/recording_sidecar.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "app/event_log.h"

namespace kestavo::app {

namespace fs = std::filesystem;

namespace {

std::error_code lastError() { return {errno, std::generic_category()}; }

std::string seconds(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", s);
    return buf;
}

}  // namespace

fs::path SidecarPath(const fs::path& recording) { return fs::path(recording.string() + ".json"); }

std::error_code WriteSidecarFile(const fs::path& path, std::string_view text, const recording::FileOps& ops) {
    const fs::path temp = path.parent_path() / ("." + path.filename().string() + ".part");
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    int fd = ops.open(temp.c_str(), kFlags, 0644);
    if (fd < 0 && errno == EEXIST) {  // left by a run that ended in the middle of a write
        (void)ops.unlink(temp.c_str());
        fd = ops.open(temp.c_str(), kFlags, 0644);
    }
    if (fd < 0) return lastError();
    std::error_code ec;
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t put = ops.pwrite(fd, text.data() + done, text.size() - done, off_t(done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            ec = put < 0 ? lastError() : std::make_error_code(std::errc::no_space_on_device);
            break;
        }
        done += std::size_t(put);
    }
    if (!ec && ::fdatasync(fd) != 0) ec = lastError();
    if (ops.close(fd) != 0 && !ec) ec = lastError();
    if (!ec && ops.renameNoReplace(temp.c_str(), path.c_str()) != 0) {
        // A sidecar left under this name by a recording that is gone: the new one replaces it.
        if (errno == EEXIST && ops.unlink(path.c_str()) == 0 && ops.renameNoReplace(temp.c_str(), path.c_str()) == 0)
            return {};
        ec = lastError();
    }
    if (ec) (void)ops.unlink(temp.c_str());
    return ec;
}

RecordingSidecars::RecordingSidecars(const recording::FileOps* ops) : ops_(ops ? ops : &recording::SystemFileOps()) {}

void RecordingSidecars::HandedToUpload(const std::string& recording) {
    std::lock_guard lock(handedMutex_);
    handed_.insert(recording);
}

std::optional<SidecarWrite> RecordingSidecars::Take(const capture::ChannelReport& r, const platform::LocalTime& time,
                                                    std::string_view label, std::string_view prefix, bool enabled) {
    using Kind = capture::ChannelReport::Kind;
    switch (r.kind) {
        case Kind::Started: {
            Open& o = open_[r.channel] = Open{};
            o.label = label;
            o.prefix = prefix;
            o.file = r.file;
            o.start = time;
            o.trigger = r.cause;
            return std::nullopt;
        }
        case Kind::Detected:
            if (const auto it = open_.find(r.channel); it != open_.end() && r.offsetSeconds >= 0)
                it->second.detections.push_back({r.detection, r.text, r.offsetSeconds});
            return std::nullopt;
        case Kind::Fault:
            if (const auto it = open_.find(r.channel); it != open_.end() && r.error != 0) it->second.fault = r.text;
            return std::nullopt;
        case Kind::PluginRefused: return std::nullopt;
        case Kind::Stopped: break;
    }
    bool upload = false;
    {
        std::lock_guard lock(handedMutex_);
        upload = handed_.erase(r.file) > 0;
    }
    const auto it = open_.find(r.channel);
    if (it == open_.end()) return std::nullopt;
    const Open o = std::move(it->second);
    open_.erase(it);
    // A kept recording under its final name; one whose file was never made under the name it
    // should have had; a deleted short one has none.
    const std::string file = r.outcome == capture::RecordOutcome::Kept ? r.file
        : r.outcome == capture::RecordOutcome::NoFile                  ? o.file
                                                                       : std::string();
    if (!enabled || file.empty()) return std::nullopt;
    SidecarWrite out;
    out.path = SidecarPath(file);
    out.upload = upload;
    out.error = WriteSidecarFile(out.path, json_(o, r, time, file), *ops_);
    return out;
}

std::string RecordingSidecars::json_(const Open& o, const capture::ChannelReport& stop, const platform::LocalTime& time,
                                     const std::string& file) const {
    std::string j = "{\n  \"channel\": " + std::to_string(stop.channel);
    j += ",\n  \"label\": " + JsonString(o.label);
    j += ",\n  \"prefix\": " + JsonString(o.prefix);
    j += ",\n  \"file\": " + JsonString(fs::path(file).filename().string());
    j += ",\n  \"start\": " + JsonString(IsoTime(o.start));
    j += ",\n  \"stop\": " + JsonString(IsoTime(time));
    j += ",\n  \"trigger\": " + JsonString(CauseName(o.trigger));
    j += ",\n  \"stop_cause\": " + JsonString(CauseName(stop.cause));
    j += ",\n  \"outcome\": " + JsonString(OutcomeName(stop.outcome));
    j += ",\n  \"detections\": [";
    for (std::size_t i = 0; i < o.detections.size(); ++i) {
        const Detection& d = o.detections[i];
        j += std::string(i == 0 ? "\n" : ",\n") + "    {\"detector\": " + JsonString(DetectionName(d.kind)) +
            ", \"text\": " + JsonString(d.text) + ", \"offset\": " + seconds(d.offsetSeconds) + "}";
    }
    j += o.detections.empty() ? "]" : "\n  ]";
    j += ",\n  \"fault\": " + (o.fault.empty() ? std::string("null") : JsonString(o.fault));
    j += ",\n  \"lost_seconds\": " + seconds(stop.lostSeconds);
    return j + "\n}\n";
}

}  // namespace kestavo::app
