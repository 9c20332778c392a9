#include "detect_plugins.h"

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/event_log.h"
#include "services/plugin_host.h"

namespace kestavo::tools {

namespace fs = std::filesystem;

namespace {

// A program folder of our own under the temporary folder, removed with its contents at the end.
struct PrivateFolder {
    fs::path path;
    PrivateFolder() {
        std::string pattern = (fs::temp_directory_path() / "kestavo-detect-XXXXXX").string();
        if (::mkdtemp(pattern.data())) path = pattern;
    }
    ~PrivateFolder() {
        std::error_code ec;
        if (!path.empty()) fs::remove_all(path, ec);
    }
};

}  // namespace

bool runPlugins(const std::vector<std::string>& files, const std::vector<std::uint8_t>& samples, int bits,
                std::FILE* out, std::string& error) {
    PrivateFolder folder;
    if (folder.path.empty()) {
        error = "cannot make a temporary folder for the plug-ins";
        return false;
    }
    std::error_code ec;
    fs::create_directories(folder.path / "PLUGINS", ec);
    std::vector<std::unique_ptr<services::Tplugin>> plugins;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const fs::path file(files[i]);
        const std::string name = file.filename().string();
        if (!fs::is_regular_file(file, ec)) {
            error = "no plug-in file " + files[i];
            return false;
        }
        if (!fs::exists(folder.path / "PLUGINS" / name, ec)) fs::copy_file(file, folder.path / "PLUGINS" / name, ec);
        auto plugin = std::make_unique<services::Tplugin>(folder.path, std::int32_t(i + 1), name);
        if (!plugin->Loaded()) {
            error = files[i] + " cannot be loaded as a plug-in (not a shared object, or an entry point is missing)";
            return false;
        }
        plugins.push_back(std::move(plugin));
    }
    // One record per attachment, as each would have on its own channel.
    std::vector<services::PluginRecord> records(plugins.size());
    const std::size_t bytesPerSample = bits == 16 ? 2 : 1;
    for (std::size_t n = 0; n * bytesPerSample + bytesPerSample <= samples.size(); ++n) {
        const std::uint8_t* p = &samples[n * bytesPerSample];
        const double x = bits == 16 ? double(std::int16_t(std::uint16_t(p[0] | p[1] << 8))) * 0.000030517578125
                                    : (double(p[0]) - 128.0) * 0.0078125;
        for (std::size_t i = 0; i < plugins.size(); ++i) {
            services::PluginRecord& r = records[i];
            r.extra[0] = 0;
            if (!plugins[i]->Process(r, x)) continue;
            std::fprintf(out, "{\"sample\":%zu,\"kind\":\"plugin\",\"text\":%s,\"extra\":%s,\"action\":%d}\n", n,
                         app::JsonString(services::identifierText(r)).c_str(),
                         app::JsonString(services::extraText(r)).c_str(), int(r.action));
        }
    }
    std::fflush(out);
    return true;
}

}  // namespace kestavo::tools
