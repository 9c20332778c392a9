#include "config/password.h"

#include "config/text_file.h"

namespace kestavo::config {

namespace {

std::string run(std::string_view text, const ScramblerKey& k, bool scrambling) {
    const std::size_t count = text.size() % 256;  // the length is counted in 8 bits
    std::string out;
    out.reserve(count);
    std::uint32_t key = k.start;
    for (std::size_t i = 0; i < count; ++i) {
        const auto in = static_cast<std::uint8_t>(text[i]);
        const auto result = static_cast<std::uint8_t>(in ^ ((key >> 8) & 0xFFu));
        out.push_back(static_cast<char>(result));
        key = (key + (scrambling ? result : in)) * k.multiplier + k.addend;
    }
    return out;
}

int hexValue(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string Scramble(std::string_view text, const ScramblerKey& key) { return run(text, key, true); }
std::string Unscramble(std::string_view text, const ScramblerKey& key) { return run(text, key, false); }

std::string EscapePasswordLine(std::string_view scrambled) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : scrambled) {
        if (c == '\r' || c == '\n' || c == '%' || c == '\0') {
            const auto b = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

std::string UnescapePasswordLine(std::string_view line) {
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '%' && i + 2 < line.size() && hexValue(line[i + 1]) >= 0 && hexValue(line[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(line[i + 1]) * 16 + hexValue(line[i + 2]));
            i += 2;
        } else {
            out += line[i];
        }
    }
    return out;
}

std::optional<std::string> LoadPassword(const std::filesystem::path& sndIni) {
    const FileText text = readWholeFile(sndIni);
    if (text.missing || text.error) return std::nullopt;
    // The first line: up to LF (a CR before it belongs to the line end). A raw CR never appears
    // inside the stored line, but one at the very end of a file without LF is a line end too.
    std::string_view line(text.bytes);
    if (const auto lf = line.find('\n'); lf != std::string_view::npos) line = line.substr(0, lf);
    if (line.ends_with('\r')) line.remove_suffix(1);
    return Unscramble(UnescapePasswordLine(line));
}

std::error_code SavePassword(const std::filesystem::path& sndIni, std::string_view password) {
    return writeFileAtomically(sndIni, EscapePasswordLine(Scramble(password)) + "\r\n");
}

void PasswordDialog::Ok(std::string_view entered) {
    entered_ = std::string(entered);
    const bool right = entered_ == store_.current;
    if (mode_ == Mode::CheckOld) oldCorrect_ = right;
    if (mode_ == Mode::Unlock) unlockCorrect_ = right;
    if (mode_ == Mode::SetNew && target_ && entered_ == *target_ && entered_.size() <= kMaxPasswordBytes) {
        store_.current = entered_;
        saveError_ = SavePassword(store_.file, store_.current);
    }
}

void PasswordDialog::Cancel() noexcept {
    if (mode_ == Mode::Unlock) unlockCorrect_ = false;
}

PasswordChangeResult ChangePassword(PasswordDialog& dialog, const std::function<bool(std::string_view)>& ask) {
    dialog.SetMode(PasswordDialog::Mode::CheckOld);
    dialog.ClearOldPasswordCorrect();
    if (!ask(kEnterOldPasswordCaption)) return PasswordChangeResult::Cancelled;
    if (!dialog.OldPasswordCorrect()) return PasswordChangeResult::WrongOld;

    // No target yet: the first entry of the new password must not become the password by itself.
    dialog.ClearTarget();
    dialog.SetMode(PasswordDialog::Mode::SetNew);
    if (!ask(kEnterNewPasswordCaption)) return PasswordChangeResult::Cancelled;
    const std::string wanted = dialog.Entered();

    dialog.SetTarget(wanted);
    dialog.SetMode(PasswordDialog::Mode::SetNew);
    const bool confirmed = ask(kConfirmPasswordCaption);
    dialog.ClearTarget();
    if (!confirmed) return PasswordChangeResult::Cancelled;
    // Ok has stored and saved the password when the confirmation equalled the target.
    if (dialog.Entered() != wanted || wanted.size() > kMaxPasswordBytes) return PasswordChangeResult::NotAccepted;
    return PasswordChangeResult::Changed;
}

}  // namespace kestavo::config
