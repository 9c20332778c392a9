#pragma once
// The receiving server's web page: an operator searches the catalogue by number (caller ID or
// dialled digits), channel and date and plays the recordings in the browser. GET / shows the form
// and, with ?number=&channel=&date=, the recordings found (newest first) with a player each;
// GET /files/<name> gives a received file. Built on cpp-httplib; the page is made on the server,
// so it works without scripts. Threads: the HTTP server's own.
#include <filesystem>
#include <string>

namespace httplib {
class Server;
}

namespace kestavo::server {

class FileReceiver;

// Text safe inside HTML.
[[nodiscard]] std::string HtmlEscape(const std::string& text);

void AddWebPage(httplib::Server& http, FileReceiver& receiver, const std::filesystem::path& store);

}  // namespace kestavo::server
