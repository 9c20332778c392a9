#include "app/general_settings.h"

#include <charconv>

#include "app/channel_dialog.h"
#include "config/autostart.h"
#include "services/server_api.h"
#include "services/server_client.h"

namespace kestavo::app {

namespace {

// A whole number with optional blanks around it and an optional sign; nullopt for anything else
// or a number outside int.
std::optional<int> wholeNumber(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return std::nullopt;
    text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    if (text.front() == '+') {  // from_chars takes "-" but not "+"
        text.remove_prefix(1);
        if (text.empty() || text.front() == '-') return std::nullopt;
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string_view englishCaption(std::string_view caption) {
    if (caption == config::kEnterOldPasswordCaption) return "Enter the old password";
    if (caption == config::kEnterNewPasswordCaption) return "Enter the new password";
    if (caption == config::kConfirmPasswordCaption) return "Confirm the password";
    return caption;
}

}  // namespace

GeneralSettingsModel::GeneralSettingsModel(AppCore& core) : core_(core) {
    const config::GeneralSettings& s = core_.Settings();
    fields.serverEnabled = s.ENABLED;
    fields.autostart = s.AUTO;
    fields.loadAll = s.LOADALL;
    fields.dayFolders = s.DIRS_D;
    fields.serverName = s.NAME;
    fields.serverPort = s.PORT;
    fields.computerName = s.USER;
    fields.inOne = s.IN_ONE;
    fields.freeSpace = std::to_string(s.FreeSpace);
    fields.checkSpace = s.CHECKspace;
    fields.noName = s.No_Name;
    fields.identicalCards = s.RAZN_KART;
    captions_ = ReadLanguageTexts(core_.Files().programFolder, s.Language, kCaptionTexts);
    russian_ = s.Language == "Russian";
}

std::string GeneralSettingsModel::Caption(int n) const {
    const auto it = captions_.find(n);
    return it == captions_.end() ? std::string() : it->second;
}

GeneralSettingsNote GeneralSettingsModel::note_(GeneralSettingsMessage kind, std::string_view detail) const {
    using enum GeneralSettingsMessage;
    std::string text;
    switch (kind) {
        case FreeSpaceNotANumber:
            text = russian_ ? "Ошибка в значении свободного места на диске" : "Error in the value of free disk space";
            break;
        case FreeSpaceAbove100:
            text = russian_ ? "Больше 100% свободного места, к сожалению не бывает"
                            : "More than 100% of free space, unfortunately, does not exist";
            break;
        case ServerNotConnected:
            text = russian_ ? "Сервер не подключился, запись идёт локально"
                            : "The server could not be connected; recording stays local";
            break;
        case AutostartNotChanged:
            text = russian_ ? "Не удалось изменить автозапуск: " : "Unable to change the autostart entry: ";
            break;
        case WrongPassword: text = russian_ ? std::string(config::kWrongPasswordText) : "Wrong password"; break;
        case PasswordNotAccepted:
            text = russian_ ? std::string(config::kPasswordNotAcceptedText) : "Password not accepted";
            break;
        case PasswordNotSaved:
            text = russian_ ? "Не удалось записать пароль: " : "Unable to write the password: ";
            break;
    }
    text += detail;
    return {kind, std::move(text)};
}

// ---------------------------------------------------------------------------------------------
// Controls that act at once

std::optional<GeneralSettingsNote> GeneralSettingsModel::SetAutostart(bool on) {
    fields.autostart = on;
    core_.EditSettings().AUTO = on;
    if (const std::error_code ec = config::ApplyAutostart(core_.Files(), on))
        return note_(GeneralSettingsMessage::AutostartNotChanged,
                     core_.Files().autostartEntry.string() + " (" + ec.message() + ")");
    return std::nullopt;
}

void GeneralSettingsModel::SetLoadAll(bool on) {
    fields.loadAll = on;
    core_.EditSettings().LOADALL = on;
}

void GeneralSettingsModel::SetCheckSpace(bool on) {
    fields.checkSpace = on;
    core_.EditSettings().CHECKspace = on;
}

bool GeneralSettingsModel::LookUpServer() {
    std::string name, port;
    {
        // Loaded for this call only; the server client keeps its own handle.
        const auto library = services::NetlocateLibrary::load(core_.Files().programFolder / services::kLibraryFileName);
        if (!library) return false;
        try {
            if (!library->init(name, port)) return false;
        } catch (...) {
            return false;  // whatever the library throws, the settings stay as they were
        }
    }
    config::GeneralSettings& s = core_.EditSettings();
    s.NAME = fields.serverName = name;
    s.PORT = fields.serverPort = port;
    s.IN_ONE = fields.inOne = name == services::kLocalServerName;
    return true;
}

std::optional<GeneralSettingsNote> GeneralSettingsModel::ChangePassword(
    config::PasswordDialog& dialog, const std::function<bool(std::string_view caption)>& ask) const {
    const auto result = config::ChangePassword(
        dialog, [&](std::string_view caption) { return ask(russian_ ? caption : englishCaption(caption)); });
    switch (result) {
        case config::PasswordChangeResult::WrongOld: return note_(GeneralSettingsMessage::WrongPassword);
        case config::PasswordChangeResult::NotAccepted: return note_(GeneralSettingsMessage::PasswordNotAccepted);
        case config::PasswordChangeResult::Changed:
            if (const std::error_code ec = dialog.SaveError())
                return note_(GeneralSettingsMessage::PasswordNotSaved, ec.message());
            return std::nullopt;
        case config::PasswordChangeResult::Cancelled: return std::nullopt;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// The close

std::vector<GeneralSettingsNote> GeneralSettingsModel::Close() {
    if (closed_) return {};
    closed_ = true;
    const std::optional<int> percent = wholeNumber(fields.freeSpace);
    if (!percent) return {note_(GeneralSettingsMessage::FreeSpaceNotANumber)};
    if (*percent > 100) return {note_(GeneralSettingsMessage::FreeSpaceAbove100)};

    std::vector<GeneralSettingsNote> notes;
    config::GeneralSettings& s = core_.EditSettings();
    s.FreeSpace = *percent;
    core_.RereadDiskSize();
    s.DIRS_D = fields.dayFolders;
    // A server name or port typed into its field counts like one the look-up found; a server in
    // use under the old address is left before the new one is tried.
    const bool moved = fields.serverName != s.NAME || fields.serverPort != s.PORT;
    if (moved && s.ENABLED) core_.SetServerUse(false);
    s.NAME = fields.serverName;
    s.PORT = fields.serverPort;
    if (fields.serverEnabled) {
        if (!core_.SetServerUse(true)) notes.push_back(note_(GeneralSettingsMessage::ServerNotConnected));
    } else if (s.ENABLED) {
        core_.SetServerUse(false);
    }
    s.IN_ONE = fields.inOne;
    s.No_Name = fields.noName;
    s.RAZN_KART = fields.identicalCards;
    s.USER = fields.computerName;
    core_.ApplyGlobals();
    return notes;
}

}  // namespace kestavo::app
