// tevra4.ini: any bytes load without a crash or hang; whatever loads saves and loads back equal
// (the setup lines' MP3 texts after one normalisation);
// a key set in the model reads back as set.
#include "config/ini_file.h"
#include "config/settings.h"
#include "fuzz_folder.h"

#include <cstdint>
#include <cstdlib>

using namespace kestavo::config;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    IniDocument doc = IniDocument::parse(text);
    for (const std::string& section : doc.sections()) (void)doc.get(section, "MAX");
    const std::string value(text.substr(0, std::min<size_t>(size, 64)));
    doc.set("Fuzz", "Key", value);
    const auto back = IniDocument::parse(doc.render()).get("fuzz", "key");
    std::string expected = value;
    for (char& c : expected)
        if (c == '\r' || c == '\n') c = ' ';
    if (!back || *back != expected) std::abort();

    const auto dir = kestavo::fuzz::folder();
    ConfigFiles files;
    files.file = dir / "config" / "tevra4.ini";
    files.backup = dir / "program" / "tevra4.ini";
    files.programFolder = dir / "program";
    files.autostartEntry = dir / "autostart" / "Lodvimar.desktop";
    files.executable = "/opt/kestavo/bin/kestavo";
    files.decimalSeparator = size % 2 ? ',' : '.';
    kestavo::fuzz::writeInput(files.file, data, size);

    const auto capacity = [](const std::filesystem::path&) { return std::optional<double>(1e12); };
    GeneralSettings first;
    first.ComputerName = "fuzz";
    const GeneralLoad lines = LoadGeneralSettings(files, first);
    // Folders named by the input are never created: the input chooses the paths.
    const ChannelLoad channels = LoadChannelSettings(files, lines.lines.size(), first, capacity, false);
    if (channels.channels.size() > 4) return 0;  // the round trip below writes every key; keep it quick

    if (SaveAllSettings(files, first, channels.channels, true)) std::abort();
    GeneralSettings second;
    second.ComputerName = "fuzz";
    const GeneralLoad lines2 = LoadGeneralSettings(files, second);
    const ChannelLoad channels2 = LoadChannelSettings(files, lines2.lines.size(), second, capacity, false);
    if (!(second == first) || !(channels2.channels == channels.channels)) std::abort();
    // The setup lines carry the MP3 keys as text: a save writes the values in use, so garbage such
    // as "?4" comes back as the number it stood for. After that one normalisation they are stable.
    if (SaveAllSettings(files, second, channels2.channels, true)) std::abort();
    GeneralSettings third;
    third.ComputerName = "fuzz";
    const GeneralLoad lines3 = LoadGeneralSettings(files, third);
    if (!(lines3.lines == lines2.lines) || lines2.lines.size() != lines.lines.size()) std::abort();
    for (std::size_t i = 0; i < lines.lines.size(); ++i)
        if (lines2.lines[i].device != lines.lines[i].device) std::abort();
    return 0;
}
