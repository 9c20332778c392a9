#include "config/backup.h"

#include "config/settings.h"
#include "config/text_file.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace kestavo::config {

std::error_code MirrorToBackup(const ConfigFiles& files) {
    std::error_code ec;
    if (!std::filesystem::exists(files.file, ec)) return ec;  // nothing to mirror; keep the old backup
    std::filesystem::create_directories(files.backup.parent_path(), ec);
    if (ec) return ec;
    return copyFileAtomically(files.file, files.backup);
}

KeptFile KeepUnusableFile(const ConfigFiles& files, const platform::LocalTime& now) {
    KeptFile kept;
    std::error_code ec;
    if (!std::filesystem::exists(files.file, ec)) {
        kept.error = ec;
        return kept;
    }
    const FileText current = readWholeFile(files.file);
    if (current.error) {
        kept.error = current.error;
        return kept;
    }
    // The same text kept already (a start-up that finds no channel every time) is not kept again.
    const std::string prefix = files.file.filename().string() + ".unusable-";
    std::filesystem::directory_iterator it(files.file.parent_path(), ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (!it->path().filename().string().starts_with(prefix)) continue;
        const FileText earlier = readWholeFile(it->path());
        if (!earlier.error && !earlier.missing && earlier.bytes == current.bytes) {
            kept.path = it->path();
            return kept;
        }
    }
    ec.clear();  // a folder that cannot be listed only means a new copy
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, ".unusable-%04d%02d%02d-%02d%02d%02d", now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
    const std::string base = files.file.string() + stamp;
    for (int n = 1; n < 1000; ++n) {
        const std::filesystem::path candidate = n == 1 ? base : base + "-" + std::to_string(n);
        if (std::filesystem::exists(candidate, ec)) continue;
        kept.error = copyFileAtomically(files.file, candidate);
        if (!kept.error) kept.path = candidate;
        return kept;
    }
    kept.error = std::make_error_code(std::errc::file_exists);
    return kept;
}

std::error_code RestoreFromBackup(const ConfigFiles& files) {
    std::error_code ec;
    if (!std::filesystem::exists(files.backup, ec)) {
        if (ec) return ec;
        std::filesystem::remove(files.file, ec);  // no backup: the defaults apply
        return ec;
    }
    std::filesystem::create_directories(files.file.parent_path(), ec);
    if (ec) return ec;
    // Copying over the working file replaces it in one step, so it is never missing in between.
    return copyFileAtomically(files.backup, files.file);
}
}  // namespace kestavo::config
