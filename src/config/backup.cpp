#include "config/backup.h"

#include "config/settings.h"
#include "config/text_file.h"

#include <filesystem>

namespace kestavo::config {

std::error_code MirrorToBackup(const ConfigFiles& files) {
    std::error_code ec;
    if (!std::filesystem::exists(files.file, ec)) return ec;  // nothing to mirror; keep the old backup
    std::filesystem::create_directories(files.backup.parent_path(), ec);
    if (ec) return ec;
    return copyFileAtomically(files.file, files.backup);
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
