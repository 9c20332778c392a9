#include "config/language_table.h"

#include "config/text_file.h"

#include <charconv>

namespace kestavo::config {

Tlang::Tlang(const std::filesystem::path& programFolder, std::string_view language) {
    const bool plainName = !language.empty() && language.find('/') == std::string_view::npos && language != "." &&
        language != ".." && language.find('\0') == std::string_view::npos;
    if (!plainName) return;
    reader_.open(programFolder / (std::string(language) + ".txt"), std::ios::binary);
    open_ = reader_.is_open();
}

std::string Tlang::GetText(int number) {
    if (!open_) return {};
    std::string line;
    bool first = reader_.tellg() == std::streampos(0);
    while (std::getline(reader_, line)) {
        std::string_view view(line);
        if (first && view.starts_with("\xEF\xBB\xBF")) view.remove_prefix(3);
        first = false;
        if (!view.empty() && view.back() == '\r') view.remove_suffix(1);
        if (view.empty()) continue;
        const auto tab = view.find('\t');
        const std::string_view field = trimBlanks(view.substr(0, tab));
        int value = 0;
        const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
        if (ec != std::errc() || end != field.data() + field.size() || field.empty()) continue;  // not a number
        if (value == number) return tab == std::string_view::npos ? std::string() : std::string(view.substr(tab + 1));
    }
    return {};
}

std::error_code InstallLanguageTables(const std::filesystem::path& sourceFolder,
                                      const std::filesystem::path& programFolder) {
    std::error_code first;
    std::error_code ec;
    std::filesystem::create_directories(programFolder, ec);
    if (ec) return ec;
    for (const char* name : {"English.txt", "Russian.txt"}) {
        const auto target = programFolder / name;
        if (std::filesystem::exists(target, ec) || ec) {
            if (ec && !first) first = ec;
            continue;
        }
        const auto source = sourceFolder / name;
        if (!std::filesystem::exists(source, ec)) continue;
        if (auto err = copyFileAtomically(source, target); err && !first) first = err;
    }
    return first;
}

}  // namespace kestavo::config
