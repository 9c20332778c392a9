#include "config/ini_file.h"

#include "config/text_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kestavo::config {

namespace {

constexpr std::size_t kValueLimitBytes = 1023;  // the reader's buffer of 1024 characters

bool equalsNoCase(std::string_view a, std::string_view b) noexcept {
    return std::ranges::equal(a, b, [](char x, char y) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// The longest prefix of at most `maxBytes` bytes that does not end inside a UTF-8 character.
// (Bytes that are not UTF-8 are cut like single characters.)
std::string_view cutUtf8(std::string_view text, std::size_t maxBytes) noexcept {
    if (text.size() <= maxBytes) return text;
    const auto continuation = [&](std::size_t i) { return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80; };
    std::size_t end = maxBytes;  // text[end] is the first byte left out
    for (int step = 0; step < 3 && end > 0 && continuation(end); ++step) --end;
    if (end > 0 && continuation(end)) end = maxBytes;  // not UTF-8: a plain byte cut
    return text.substr(0, end);
}

std::string unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

// How a value is written so that the reader's trimming and unquoting give it back unchanged.
std::string quoteForFile(std::string_view value) {
    std::string v(value);
    std::ranges::replace(v, '\r', ' ');
    std::ranges::replace(v, '\n', ' ');
    const bool blankAtEnds =
        !v.empty() && (v.front() == ' ' || v.front() == '\t' || v.back() == ' ' || v.back() == '\t');
    const bool looksQuoted = v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
    return (blankAtEnds || looksQuoted) ? "\"" + v + "\"" : v;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// IniDocument

IniDocument IniDocument::parse(std::string_view text) {
    IniDocument doc;
    for (std::string_view raw : splitLines(text)) {
        Line line;
        line.text = std::string(raw);
        const std::string_view t = trimBlanks(raw);
        if (t.starts_with('[')) {
            const auto close = t.find(']');
            line.kind = Kind::Section;
            line.name = std::string(
                trimBlanks(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
        } else if (!t.starts_with(';')) {
            const auto eq = t.find('=');
            if (eq != std::string_view::npos && !trimBlanks(t.substr(0, eq)).empty()) {
                line.kind = Kind::Key;
                line.name = std::string(trimBlanks(t.substr(0, eq)));
                line.value = unquote(trimBlanks(t.substr(eq + 1)));
            }
        }
        doc.lines_.push_back(std::move(line));
    }
    return doc;
}

std::optional<std::string> IniDocument::get(std::string_view section, std::string_view key) const {
    bool inSection = false, seen = false;
    for (const Line& line : lines_) {
        if (line.kind == Kind::Section) {
            if (inSection) return std::nullopt;  // only the first section of that name counts
            inSection = !seen && equalsNoCase(line.name, section);
            seen = seen || inSection;
        } else if (inSection && line.kind == Kind::Key && equalsNoCase(line.name, key)) {
            return line.value;
        }
    }
    return std::nullopt;
}

void IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    Line line;
    line.kind = Kind::Key;
    line.name = std::string(key);
    line.text = std::string(key) + "=" + quoteForFile(value);
    line.value = unquote(trimBlanks(quoteForFile(value)));

    std::size_t sectionAt = lines_.size();
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind == Kind::Section && equalsNoCase(lines_[i].name, section)) {
            sectionAt = i;
            break;
        }
    }
    if (sectionAt == lines_.size()) {
        if (!lines_.empty() && !trimBlanks(lines_.back().text).empty()) lines_.push_back(Line{});
        Line header;
        header.kind = Kind::Section;
        header.name = std::string(section);
        header.text = "[" + std::string(section) + "]";
        lines_.push_back(std::move(header));
        lines_.push_back(std::move(line));
        return;
    }
    std::size_t lastFilled = sectionAt;  // the new key goes after the section's last non-blank line
    for (std::size_t i = sectionAt + 1; i < lines_.size() && lines_[i].kind != Kind::Section; ++i) {
        if (lines_[i].kind == Kind::Key && equalsNoCase(lines_[i].name, key)) {
            lines_[i] = std::move(line);
            return;
        }
        if (!trimBlanks(lines_[i].text).empty()) lastFilled = i;
    }
    lines_.insert(lines_.begin() + std::ptrdiff_t(lastFilled + 1), std::move(line));
}

std::string IniDocument::render() const {
    std::string out;
    for (const Line& line : lines_) {
        out += line.text;
        out += "\r\n";
    }
    return out;
}

std::vector<std::string> IniDocument::sections() const {
    std::vector<std::string> names;
    for (const Line& line : lines_)
        if (line.kind == Kind::Section) names.push_back(line.name);
    return names;
}

// ---------------------------------------------------------------------------------------------
// IniFile

std::string unableToWriteText(const std::filesystem::path& file) { return "Unable to write to " + file.string(); }

IniFile::IniFile(std::filesystem::path file, char decimalSeparator)
    : file_(std::move(file)), separator_(decimalSeparator) {}

void IniFile::refresh_() {
    Stamp now;
    struct stat st {};
    if (::stat(file_.c_str(), &st) == 0) {
        now.exists = true;
        now.device = st.st_dev;
        now.inode = st.st_ino;
        now.size = std::uintmax_t(st.st_size);
        now.modifiedNs = std::int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    }
    if (loaded_ && now == stamp_) return;
    const FileText text = readWholeFile(file_);
    readError_ = text.error;
    document_ = IniDocument::parse(text.bytes);  // missing or unreadable: empty, the defaults apply
    stamp_ = now;
    loaded_ = true;
}

std::string IniFile::readString(std::string_view section, std::string_view key, std::string_view defaultValue) {
    refresh_();
    const auto value = document_.get(section, key);
    return std::string(cutUtf8(value ? std::string_view(*value) : defaultValue, kValueLimitBytes));
}

std::optional<std::string> IniFile::readValue(std::string_view section, std::string_view key) {
    refresh_();
    const auto value = document_.get(section, key);
    if (!value) return std::nullopt;
    return std::string(cutUtf8(*value, kValueLimitBytes));
}

int IniFile::readInteger(std::string_view section, std::string_view key, int defaultValue) {
    refresh_();
    const auto value = document_.get(section, key);
    if (!value) return defaultValue;
    return parseInteger(cutUtf8(*value, kValueLimitBytes)).value_or(defaultValue);
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool defaultValue) {
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

double IniFile::readReal(std::string_view section, std::string_view key, std::string_view defaultText,
                         double fallback) {
    return parseReal(readString(section, key, defaultText), separator_).value_or(fallback);
}

std::error_code IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
    refresh_();
    if (readError_) return readError_;  // never replace a file whose contents we could not see
    IniDocument next = document_;
    next.set(section, key, value);
    if (auto ec = writeFileAtomically(file_, next.render(), Durability::Deferred)) return ec;
    unflushed_ = true;
    document_ = std::move(next);
    loaded_ = false;  // take the new file's stamp at the next access
    refresh_();
    return {};
}

std::error_code IniFile::flush() {
    if (!unflushed_) return {};
    unflushed_ = false;
    return flushFile(file_);
}

std::error_code IniFile::writeInteger(std::string_view section, std::string_view key, int value) {
    return writeString(section, key, std::to_string(value));
}

std::error_code IniFile::writeBool(std::string_view section, std::string_view key, bool value) {
    return writeString(section, key, value ? "1" : "0");
}

std::error_code IniFile::writeReal(std::string_view section, std::string_view key, double value) {
    return writeString(section, key, formatReal(value, separator_));
}

std::optional<double> parseReal(std::string_view text, char separator) noexcept {
    text = trimBlanks(text);
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty() || text.size() > 400) return std::nullopt;
    char buf[401];
    std::size_t n = 0;
    for (char c : text) {
        if (c == separator)
            c = '.';
        else if (c == '.' || c == ',')
            return std::nullopt;  // only the locale's separator is a separator
        buf[n++] = c;
    }
    double value = 0.0;
    const auto [end, ec] = std::from_chars(buf, buf + n, value, std::chars_format::general);
    if (ec != std::errc() || end != buf + n || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string formatReal(double value, char separator) {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    std::string text(buf, ec == std::errc() ? end : buf);
    std::ranges::replace(text, '.', separator);
    return text;
}

}  // namespace kestavo::config
