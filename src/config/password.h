#pragma once
// PasswordDialog, PasswordStore: the operator's password — scrambling, the file snd.ini, and the logic of the password dialog.
//
// Scrambling is a running-key XOR: each output byte is the input byte XOR bits 8..15 of a 32-bit
// key, and the key then moves on as key = (key + scrambled byte) x multiplier + addend (wrapping).
// Because the key takes in the scrambled byte (the output when scrambling, the input when
// unscrambling), unscrambling with the same three constants restores the text. The length is
// counted in 8 bits, so only the first (length mod 256) bytes are processed: 300 characters are
// processed as 44.
//
// snd.ini holds one line, the scrambled password, ended by CR LF. A scrambled byte may be CR, LF
// or anything else, so the line escapes exactly three byte values as "%0D", "%0A" and "%25" ("%"
// itself), and NUL as "%00"; every other byte is stored as it is. A "%" not followed by two hex
// digits reads as itself.
//
// PasswordDialog is the dialog's logic without the widgets: the window shows it and calls Ok or
// Cancel; ChangePassword runs the three questions of a password change. Main thread only.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace kestavo::config {

struct ScramblerKey {
    std::uint32_t start;  // key before the first byte
    std::uint32_t multiplier;
    std::uint32_t addend;
};
// Files written with other constants do not read back.
inline constexpr ScramblerKey kScramblerKey{0x5EC2A7D1u, 1664525u, 1013904223u};

inline constexpr std::size_t kMaxPasswordBytes = 255;  // longer texts lose length (counted mod 256)

[[nodiscard]] std::string Scramble(std::string_view text, const ScramblerKey& key = kScramblerKey);
[[nodiscard]] std::string Unscramble(std::string_view text, const ScramblerKey& key = kScramblerKey);

// The escaped line of snd.ini (without the line end), and back.
[[nodiscard]] std::string EscapePasswordLine(std::string_view scrambled);
[[nodiscard]] std::string UnescapePasswordLine(std::string_view line);

inline constexpr std::string_view kPasswordFileErrorText = "Error in password file";
inline constexpr std::string_view kPasswordFileErrorTitle = "Error!";

// The stored password: the unscrambled first line of `sndIni` (an empty file gives ""). nullopt
// when the file is missing or unreadable; the caller then shows kPasswordFileErrorText with the
// title kPasswordFileErrorTitle and runs without a password.
[[nodiscard]] std::optional<std::string> LoadPassword(const std::filesystem::path& sndIni);
// Rewrites `sndIni` with the scrambled password as its only line.
[[nodiscard]] std::error_code SavePassword(const std::filesystem::path& sndIni, std::string_view password);

// Captions and messages of the password questions.
inline constexpr std::string_view kEnterPasswordCaption = "Введите пароль";
inline constexpr std::string_view kEnterOldPasswordCaption = "Введите старый пароль";
inline constexpr std::string_view kEnterNewPasswordCaption = "Введите новый пароль";
inline constexpr std::string_view kConfirmPasswordCaption = "Подтвердите пароль";
inline constexpr std::string_view kWrongPasswordText = "Пароль неверен";
inline constexpr std::string_view kPasswordNotAcceptedText = "Пароль не принят";

// The process-wide password and where it is kept.
struct PasswordStore {
    std::filesystem::path file;  // snd.ini in the program folder
    std::string current;         // empty: no lock
};

// TPasswordDlg without its widgets.
class PasswordDialog {
public:
    enum class Mode { Unlock = 0, CheckOld = 1, SetNew = 2 };
    static constexpr int kUnlocked = 100;     // modal result of mode 0 with the right password
    static constexpr int kNotUnlocked = 101;  // any other close in mode 0

    explicit PasswordDialog(PasswordStore& store) : store_(store) {}

    void SetMode(Mode mode) noexcept { mode_ = mode; }
    // The text a mode-2 entry must equal to become the password; clears the unlock flag.
    void SetTarget(std::string target) {
        target_ = std::move(target);
        unlockCorrect_ = false;
    }
    // No target: a mode-2 entry is only taken (the first question of a change), never stored.
    void ClearTarget() noexcept { target_.reset(); }
    void ClearOldPasswordCorrect() noexcept { oldCorrect_ = false; }

    // OK with the entered text: mode 0/1 set or clear their flag by comparing with the password;
    // mode 2 makes the text the password and saves it when a target is set and the text equals it
    // (and is at most kMaxPasswordBytes long, so the stored password is the one typed).
    void Ok(std::string_view entered);
    // Cancel: mode 0 clears the unlock flag.
    void Cancel() noexcept;

    // 100 when unlocked, 101 otherwise (meaningful in mode 0).
    [[nodiscard]] int ModalResult() const noexcept { return unlockCorrect_ ? kUnlocked : kNotUnlocked; }
    [[nodiscard]] bool UnlockCorrect() const noexcept { return unlockCorrect_; }
    [[nodiscard]] bool OldPasswordCorrect() const noexcept { return oldCorrect_; }
    // The text taken by the last Ok (what the window's edit field held).
    [[nodiscard]] const std::string& Entered() const noexcept { return entered_; }
    // The error of the last save, if Ok stored a new password and the file could not be written.
    [[nodiscard]] std::error_code SaveError() const noexcept { return saveError_; }

private:
    PasswordStore& store_;
    Mode mode_ = Mode::Unlock;
    std::optional<std::string> target_;  // confirmation text in mode 2; none: nothing is stored
    std::string entered_;                // text taken by the last Ok
    bool oldCorrect_ = false;            // mode 1: the old password was right
    bool unlockCorrect_ = false;         // mode 0: the password was right
    std::error_code saveError_;
};

enum class PasswordChangeResult {
    Changed,      // the new password is stored and saved
    WrongOld,     // "Пароль неверен": nothing changed
    NotAccepted,  // "Пароль не принят": confirmation differed (or too long); nothing changed
    Cancelled,    // a question was cancelled; nothing changed
};

// The password change of the general settings dialog. `ask` shows the dialog modally with the
// given caption, calling dialog.Ok(text) or dialog.Cancel(), and returns false when cancelled.
// The caller shows kWrongPasswordText or kPasswordNotAcceptedText for those results.
[[nodiscard]] PasswordChangeResult ChangePassword(PasswordDialog& dialog,
                                                  const std::function<bool(std::string_view caption)>& ask);

}  // namespace kestavo::config
