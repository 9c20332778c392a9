#include "services/plugin_host.h"

#include <algorithm>
#include <array>

namespace kestavo::services {

namespace fs = std::filesystem;

fs::path Tplugin::WorkingCopy(const fs::path& programFolder, std::int32_t channel, const std::string& fileName) {
    const std::string stem = fileName.substr(0, fileName.find('.'));
    return programFolder / "PLUGINS" / "WORK" / (stem + std::to_string(channel) + ".plg");
}

Tplugin::Tplugin(const fs::path& programFolder, std::int32_t channel, std::string fileName)
    : channel_(channel), fileName_(std::move(fileName)), copy_(WorkingCopy(programFolder, channel, fileName_)) {
    std::error_code ec;
    fs::create_directories(copy_.parent_path(), ec);
    if (!fs::exists(copy_, ec)) fs::copy_file(programFolder / "PLUGINS" / fileName_, copy_, ec);
    if (!lib_.load(copy_)) return;
    start_ = lib_.entry<StartPluginFn>("Start_plugin");
    process_ = lib_.entry<ProcessFn>("process");
    stop_ = lib_.entry<StopPluginFn>("Stop_plugin");
    if (!start_ || !process_ || !stop_) {
        start_ = nullptr;
        process_ = nullptr;
        stop_ = nullptr;
        lib_.unload();
        return;
    }
    start_(channel_);
}

Tplugin::~Tplugin() {
    if (stop_) stop_();
    lib_.unload();
    std::error_code ec;
    fs::remove(copy_, ec);  // a copy that cannot be deleted is reused next time
}

Tcommon_plugin::Tcommon_plugin(const fs::path& programFolder, PluginVetting* vetting)
    : folder_(programFolder / "PLUGINS"), vetting_(vetting) {
    std::error_code ec;
    fs::create_directories(folder_, ec);
}

std::vector<std::string> Tcommon_plugin::ListPlugins() const {
    std::vector<std::string> lines;
    std::error_code ec;
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(folder_, ec))
        if (!e.is_directory() && e.path().extension() == ".plg") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    refused_.clear();
    for (const auto& f : files) {
        if (vetting_) {
            const PluginVerdict verdict = vetting_->Check(f);
            if (verdict.ok)
                lines.push_back(f.filename().string() + "\t" + verdict.description + "\t" + verdict.version);
            else
                refused_.push_back(f.filename().string() + "\t" + verdict.problem);
            continue;
        }
        platform::DynamicLibrary lib;
        if (!lib.load(f)) continue;
        auto check = lib.entry<CheckVersionFn>("Check_version");
        if (!check) continue;
        std::array<char, 1024> description{}, version{};
        char* d = description.data();
        char* v = version.data();
        check(&d, &v);
        description.back() = 0;
        version.back() = 0;
        lines.push_back(f.filename().string() + "\t" + description.data() + "\t" + version.data());
    }
    return lines;
}

}  // namespace kestavo::services
