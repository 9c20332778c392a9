#pragma once
// Tplugin, Tcommon_plugin: the plug-in host. Tcommon_plugin lists the plug-ins in PLUGINS beside the program; Tplugin
// drives one plug-in attached to one channel through a private working copy of its file
// (PLUGINS/WORK/<name up to its first .><channel>.plg), so a plug-in's global state is separate
// per channel. A copy left behind by an abnormal end is reused.
// Threads: Tplugin's Process runs on its channel's thread; the catalogue is built on the main thread.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/dynlib.h"
#include "services/plugin_api.h"
#include "services/plugin_vetting.h"

namespace kestavo::services {

class Tplugin {
public:
    // Copies and loads the working copy and calls Start_plugin. Check Loaded() afterwards: a copy
    // that cannot be loaded or lacks an entry point leaves the object without library.
    Tplugin(const std::filesystem::path& programFolder, std::int32_t channel, std::string fileName);
    // Calls Stop_plugin, unloads the copy and deletes it.
    ~Tplugin();
    Tplugin(const Tplugin&) = delete;
    Tplugin& operator=(const Tplugin&) = delete;

    [[nodiscard]] bool Loaded() const noexcept { return process_ != nullptr; }
    [[nodiscard]] const std::string& FileName() const noexcept { return fileName_; }
    // One sample for the plug-in; true when the record holds a new result.
    bool Process(PluginRecord& record, double sample) noexcept { return process_ ? process_(&record, sample) : false; }

    // PLUGINS/WORK/<name up to its first .><channel>.plg
    [[nodiscard]] static std::filesystem::path WorkingCopy(const std::filesystem::path& programFolder,
                                                           std::int32_t channel, const std::string& fileName);

private:
    std::int32_t channel_;
    std::string fileName_;
    std::filesystem::path copy_;
    platform::DynamicLibrary lib_;
    StartPluginFn start_ = nullptr;
    ProcessFn process_ = nullptr;
    StopPluginFn stop_ = nullptr;
};

class Tcommon_plugin {
public:
    // Creates PLUGINS in the program folder. With `vetting`, each plug-in is tried in a process of
    // its own before it is listed (see services/plugin_vetting.h).
    explicit Tcommon_plugin(const std::filesystem::path& programFolder, PluginVetting* vetting = nullptr);
    // One line per loadable plug-in: file name, a tab, description, a tab, version.
    [[nodiscard]] std::vector<std::string> ListPlugins() const;
    // The plug-ins the last ListPlugins refused: file name, a tab, the reason.
    [[nodiscard]] const std::vector<std::string>& Refused() const noexcept { return refused_; }

private:
    std::filesystem::path folder_;
    PluginVetting* vetting_;
    mutable std::vector<std::string> refused_;
};

}  // namespace kestavo::services
