// kestavo-server: the recording server the recorders upload to. It takes uploads on many
// connections at once into a store folder, marks them in the catalogue, answers the recorders'
// network search, serves the web page, and with --local holds the lock a recorder on the same
// computer waits for. It runs until SIGINT or SIGTERM.
#include <httplib.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <thread>

#include "catalogue/catalogue.h"
#include "netlocate/search_protocol.h"
#include "platform/server_lock.h"
#include "platform/stream_socket.h"
#include "receiver/file_receiver.h"
#include "receiver/web_page.h"

namespace {

// "[ADDR:]PORT" into its parts; false when the port is not a number.
bool splitAddress(const std::string& text, std::string& address, std::uint16_t& port) {
    const auto colon = text.rfind(':');
    address = colon == std::string::npos ? "" : text.substr(0, colon);
    const std::string p = colon == std::string::npos ? text : text.substr(colon + 1);
    char* end = nullptr;
    const long v = std::strtol(p.c_str(), &end, 10);
    if (p.empty() || *end || v < 0 || v > 65535) return false;
    port = std::uint16_t(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kestavo;
    CLI::App app{"kestavo-server: receives the recorders' uploads, keeps the catalogue and serves the web page"};
    std::string listen, store, catalogue, http, name;
    std::int64_t maxBytes = 2147483647;
    int searchPort = server::SearchPort();
    bool local = false;
    app.add_option("--listen", listen, "[ADDR:]PORT for the uploads (port 0: any free port)")->required();
    app.add_option("--store", store, "folder the received recordings go to")->required();
    app.add_option("--catalogue", catalogue,
                   "sqlite:PATH, or postgresql://USER@HOST:PORT/DB (default: sqlite:STORE/catalogue.sqlite)");
    app.add_option("--http", http, "[ADDR:]PORT of the web page (none when not given)");
    app.add_option("--max-size", maxBytes, "largest file taken, in bytes");
    app.add_option("--search-port", searchPort, "UDP port answered for the network search (0: none)");
    app.add_option("--name", name, "server name given to a search (default: kestavo@<this address>)");
    app.add_flag("--local", local, "one computer: hold the lock a recorder on this computer waits for");
    app.set_version_flag("--version", std::string("kestavo-server ") + KESTAVO_VERSION);
    CLI11_PARSE(app, argc, argv);

    std::string address, httpAddress;
    std::uint16_t port = 0, httpPort = 0;
    if (!splitAddress(listen, address, port) || (!http.empty() && !splitAddress(http, httpAddress, httpPort))) {
        std::cerr << "kestavo-server: an address is [ADDR:]PORT\n";
        return 2;
    }
    if (catalogue.empty()) catalogue = "sqlite:" + (std::filesystem::path(store) / "catalogue.sqlite").string();
    std::error_code ec;
    std::filesystem::create_directories(store, ec);

    // Signals are taken by sigwait below; every thread started from here on inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::unique_ptr<platform::ServerLock> lock;
    if (local) {
        const auto lockFile = platform::DefaultServerLockPath();
        lock = platform::ServerLock::acquire(lockFile, ec);
        if (!lock) {
            std::cerr << "kestavo-server: another local server holds " << lockFile << "\n";
            return 1;
        }
        std::ofstream(lockFile) << std::filesystem::absolute(store).string() << '\n';  // the server folder
    }

    auto listener = platform::systemNetwork().listen(address, port, ec);
    if (!listener) {
        std::cerr << "kestavo-server: cannot listen on " << listen << ": " << ec.message() << "\n";
        return 1;
    }
    server::ReceiverOptions options;
    options.store = store;
    options.maxBytes = maxBytes;
    options.log = [](const std::string& line) { std::fprintf(stderr, "kestavo-server: %s\n", line.c_str()); };
    server::FileReceiver receiver(options, std::move(listener), server::MakeCatalogue(catalogue));

    server::SearchResponder responder;
    if (searchPort > 0) {
        server::FoundServer answer;
        answer.name = name;
        answer.second = server::IsPostgres(catalogue) ? catalogue : "ptSingleUser";
        answer.uploadPort = receiver.port();
        if (!responder.start(answer, searchPort))
            std::cerr << "kestavo-server: the network search port " << searchPort
                      << " is taken; searches go unanswered\n";
    }

    httplib::Server web;
    std::thread webThread;
    int webPort = 0;
    if (!http.empty()) {
        server::AddWebPage(web, receiver, store);
        const std::string bindTo = httpAddress.empty() ? "0.0.0.0" : httpAddress;
        webPort = httpPort == 0 ? web.bind_to_any_port(bindTo) : (web.bind_to_port(bindTo, httpPort) ? httpPort : -1);
        if (webPort <= 0) {
            std::cerr << "kestavo-server: cannot serve the web page on " << http << "\n";
            return 1;
        }
        webThread = std::thread([&web] { web.listen_after_bind(); });
    }
    std::printf("kestavo-server: uploads on port %u, web page on port %d, catalogue %s\n", unsigned(receiver.port()),
                webPort, server::IsPostgres(catalogue) ? "postgresql" : catalogue.c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&signals, &signal);
    if (webThread.joinable()) {
        web.stop();
        webThread.join();
    }
    return 0;
}
