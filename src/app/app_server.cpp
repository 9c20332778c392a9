// AppCore's side of the recording server: the connect at start-up, switching the server on and off
// while the program runs, and the process-wide values every channel reads. Main thread.
#include "app/app_core.h"
#include "config/password.h"
#include "platform/server_lock.h"

namespace kestavo::app {

namespace fs = std::filesystem;

capture::ChannelGlobals AppCore::channelGlobals_() const {
    capture::ChannelGlobals g;
    g.programFolder = services_.files.programFolder;
    g.tempFolder = services_.files.programFolder / "TEMP";
    g.computerName = settings_.ComputerName;
    g.serverEnabled = client_->InUse();
    g.inOne = client_->InUse() ? client_->OneComputer() : settings_.IN_ONE;
    g.dayFolders = settings_.DIRS_D;
    g.noName = settings_.No_Name;
    return g;
}

void AppCore::applyGlobals_() {
    const capture::ChannelGlobals g = channelGlobals_();
    for (auto& row : rows_)
        if (auto* c = row->Channel()) c->SetGlobals(g);
}

void AppCore::startServer_(const std::vector<std::string>& arguments) {
    if (!arguments.empty() && arguments.front() == "-netstart") {
        ConnectServer(true);
        return;
    }
    if (settings_.ENABLED && settings_.NAME == services::kLocalServerName) {
        const fs::path lock = services_.serverLock.empty() ? platform::DefaultServerLockPath() : services_.serverLock;
        (void)services::WaitForLocalServer([&] { return platform::LocalServerRunning(lock); },
                                           services_.localServerWait);  // goes on either way
    }
    if (settings_.ENABLED)
        ConnectServer(false);
    else
        applyGlobals_();
}

bool AppCore::ConnectServer(bool search) {
    services::ServerLogin login;
    login.name = settings_.NAME;
    login.port = settings_.PORT;
    login.user = settings_.USER;
    if (services_.password)
        login.password = services_.password();
    else if (auto stored = config::LoadPassword(services_.files.programFolder / "snd.ini"))
        login.password = *stored;
    const bool ok = client_->ConnectServer(search, login, [this](const std::string& text) { show_(text); });
    settings_.NAME = login.name;
    settings_.PORT = login.port;
    settings_.ENABLED = ok;  // a failed connect leaves the server off: "Locally", and WAW_PATH saved
    if (ok && client_->OneComputer() && ownFolders_.empty()) {
        // One computer: the channels record straight into the server's folder.
        for (auto& row : rows_) {
            ownFolders_.push_back(row->Settings().recordDir);
            std::error_code ec;
            fs::create_directories(client_->ServerFolder(), ec);  // a failure shows in the recordings
            row->SetRecordDir(client_->ServerFolder());
        }
    }
    applyGlobals_();
    return ok;
}

void AppCore::DisconnectServer() {
    client_->DisconnectServer();
    settings_.ENABLED = false;
    for (std::size_t i = 0; i < rows_.size() && i < ownFolders_.size(); ++i) rows_[i]->SetRecordDir(ownFolders_[i]);
    ownFolders_.clear();
    applyGlobals_();
}

bool AppCore::SetServerUse(bool on) {
    if (on) return ConnectServer(false);
    if (client_->InUse()) DisconnectServer();
    settings_.ENABLED = false;
    return false;
}

}  // namespace kestavo::app
