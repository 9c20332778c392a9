#include "services/space_keeper.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>

#include "platform/thread_name.h"

namespace kestavo::services {

namespace fs = std::filesystem;

namespace {

struct Candidate {
    fs::path path;
    fs::file_time_type written;
};

// The ".mp3" files directly in `folder`, oldest first (equal times by name, so a run is repeatable).
std::vector<Candidate> mp3Files(const fs::path& folder) {
    std::vector<Candidate> out;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fileEc;
        if (it->is_directory(fileEc) || it->path().extension() != ".mp3") continue;
        const auto written = it->last_write_time(fileEc);
        if (!fileEc) out.push_back({it->path(), written});
    }
    std::sort(out.begin(), out.end(), [](const Candidate& a, const Candidate& b) {
        return std::tie(a.written, a.path) < std::tie(b.written, b.path);
    });
    return out;
}

}  // namespace

std::optional<int> Tspace_shrink::DayFolderDate(const std::string& name) {
    // DD_MM_YYYY, as the channels name their day folders.
    if (name.size() != 10 || name[2] != '_' || name[5] != '_') return std::nullopt;
    for (const std::size_t i : {0u, 1u, 3u, 4u, 6u, 7u, 8u, 9u})
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
    const unsigned day = unsigned(std::stoi(name.substr(0, 2)));
    const unsigned month = unsigned(std::stoi(name.substr(3, 2)));
    const int year = std::stoi(name.substr(6, 4));
    const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(month), std::chrono::day(day)};
    if (!date.ok()) return std::nullopt;
    return int(std::chrono::sys_days(date).time_since_epoch().count());
}

SpaceKeeperRun Tspace_shrink::RunOnce(const SpaceKeeperParams& params, const SpaceKeeperEnv& env,
                                      std::stop_token stop) {
    SpaceKeeperRun run;
    std::vector<Candidate> candidates;
    bool moreToLookAt = false;  // day folders left for a later run
    if (!params.dayFolders) {
        for (const fs::path& folder : params.channelFolders) {
            auto files = mp3Files(folder);
            candidates.insert(candidates.end(), files.begin(), files.end());
        }
        std::stable_sort(candidates.begin(), candidates.end(),
                         [](const Candidate& a, const Candidate& b) { return a.written < b.written; });
    } else {
        struct DayFolder {
            int date;
            fs::path path;
        };
        std::vector<DayFolder> folders;
        for (const fs::path& folder : params.channelFolders) {
            std::error_code ec;
            for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
                std::error_code dirEc;
                if (!it->is_directory(dirEc) || it->is_symlink(dirEc)) continue;
                if (const auto date = DayFolderDate(it->path().filename().string()))
                    folders.push_back({*date, it->path()});
            }
        }
        std::sort(folders.begin(), folders.end(), [](const DayFolder& a, const DayFolder& b) {
            return std::tie(a.date, a.path) < std::tie(b.date, b.path);
        });
        const std::size_t look = std::min(folders.size(), params.channelFolders.size());
        moreToLookAt = folders.size() > look;
        for (std::size_t k = 0; k < look; ++k) {
            auto files = mp3Files(folders[k].path);
            if (files.empty()) {
                std::error_code ec;
                if (fs::remove(folders[k].path, ec) && !ec) run.removedFolders.push_back(folders[k].path);
                continue;  // a folder holding something else stays
            }
            candidates.insert(candidates.end(), files.begin(), files.end());
        }
    }

    std::optional<std::uint64_t> free;
    for (const Candidate& c : candidates) {
        if (stop.stop_requested()) return run;
        free = env.freeBytes ? env.freeBytes() : std::nullopt;
        if (!free) return run;  // the disk cannot be measured: delete nothing blindly
        if (*free >= params.keepFreeBytes) {
            run.targetMet = true;
            return run;
        }
        if (env.inUse && env.inUse(c.path)) continue;
        bool removed;
        if (env.remove) {
            removed = env.remove(c.path);
        } else {
            std::error_code ec;
            removed = fs::remove(c.path, ec) && !ec;
        }
        if (!removed) continue;  // a file that cannot be deleted is skipped
        run.deleted.push_back(c.path);
        // Its sidecar goes with it (a recording without one leaves nothing to delete).
        const fs::path sidecar = c.path.string() + ".json";
        std::error_code ec;
        if (fs::exists(sidecar, ec)) {
            if (env.remove)
                (void)env.remove(sidecar);
            else
                fs::remove(sidecar, ec);
        }
    }
    free = env.freeBytes ? env.freeBytes() : std::nullopt;
    run.targetMet = free && *free >= params.keepFreeBytes;
    if (free && !run.targetMet && !moreToLookAt && env.message && !(env.toldShort && env.toldShort->exchange(true)))
        env.message("The free space target of " + std::to_string(params.keepFreeBytes) +
                    " bytes cannot be met by deleting MP3 recordings: " + std::to_string(*free) +
                    " bytes are free and no MP3 recording is left to delete");
    return run;
}

Tspace_shrink::Tspace_shrink(SpaceKeeperParams params, SpaceKeeperEnv env)
    : params_(std::move(params)), env_(std::move(env)) {
    thread_ = std::jthread([this](std::stop_token stop) {
        platform::nameThisThread("space keeper");
        // Idle priority: the recordings come first. A refusal leaves the normal priority, which
        // only makes the keeper quicker.
        sched_param param{};
        (void)pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);
        run_ = RunOnce(params_, env_, stop);
        finished_.store(true);
    });
}

Tspace_shrink::~Tspace_shrink() {
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
}

const SpaceKeeperRun& Tspace_shrink::Wait() {
    if (thread_.joinable()) thread_.join();
    return run_;
}

std::optional<std::uint64_t> FreeBytesAt(const fs::path& path) {
    std::error_code ec;
    const auto info = fs::space(path, ec);
    if (ec) return std::nullopt;
    return info.available;
}

}  // namespace kestavo::services
