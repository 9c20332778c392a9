#include "receiver/web_page.h"

#include <httplib.h>

#include <fstream>
#include <sstream>

#include "receiver/file_receiver.h"

namespace kestavo::server {

namespace fs = std::filesystem;

std::string HtmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    return out;
}

namespace {

std::string urlEncode(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~')
            out += char(c);
        else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string page(const SearchFilter& f, const std::vector<RecordingRow>* rows, bool ok) {
    std::ostringstream h;
    h << "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Kestavo recordings</title>"
         "<style>body{font-family:sans-serif}table{border-collapse:collapse}td,th{border:1px solid #aaa;"
         "padding:2px 6px}</style></head><body><h1>Recordings</h1>"
         "<form method=\"get\" action=\"/\">"
         "<label>Number <input name=\"number\" id=\"number\" value=\""
      << HtmlEscape(f.number)
      << "\"></label> <label>Channel <input name=\"channel\" id=\"channel\" type=\"number\" value=\""
      << (f.channel ? std::to_string(f.channel) : "")
      << "\"></label> <label>Date <input name=\"date\" id=\"date\" type=\"date\" value=\"" << HtmlEscape(f.date)
      << "\"></label> <button type=\"submit\">Search</button></form>";
    if (!ok) h << "<p id=\"error\">The catalogue cannot be reached.</p>";
    if (rows) {
        h << "<table id=\"results\"><tr><th>Start</th><th>Recorder</th><th>Channel</th><th>Numbers</th>"
             "<th>Duration</th><th>State</th><th>Play</th></tr>";
        for (const auto& r : *rows) {
            h << "<tr class=\"recording\"><td>" << HtmlEscape(r.start) << "</td><td>" << HtmlEscape(r.recorder)
              << "</td><td class=\"channel\">" << r.channel << "</td><td class=\"numbers\">";
            for (std::size_t i = 0; i < r.identifiers.size(); ++i)
                h << (i ? " " : "") << HtmlEscape(r.identifiers[i].text);
            h << "</td><td>" << HtmlEscape(r.duration) << "</td><td>" << HtmlEscape(r.state) << "</td><td>";
            if (r.state == "uploaded")
                h << "<audio controls preload=\"none\" src=\"/files/" << urlEncode(r.file) << "\"></audio> "
                  << "<a href=\"/files/" << urlEncode(r.file) << "\">" << HtmlEscape(r.file) << "</a>";
            else
                h << HtmlEscape(r.file);
            h << "</td></tr>";
        }
        h << "</table><p id=\"count\">" << rows->size() << " found</p>";
    }
    h << "</body></html>";
    return h.str();
}

}  // namespace

void AddWebPage(httplib::Server& http, FileReceiver& receiver, const fs::path& store) {
    http.Get("/", [&receiver](const httplib::Request& req, httplib::Response& res) {
        SearchFilter f;
        f.number = req.get_param_value("number");
        f.channel = std::atoi(req.get_param_value("channel").c_str());
        f.date = req.get_param_value("date");
        const bool asked = req.has_param("number") || req.has_param("channel") || req.has_param("date");
        bool ok = true;
        std::vector<RecordingRow> rows;
        if (asked)
            rows = receiver.withCatalogue([&](Catalogue* c) {
                if (!c) return std::vector<RecordingRow>{};
                if (!c->connected()) c->open();
                return c->search(f, ok);
            });
        res.set_content(page(f, asked ? &rows : nullptr, ok), "text/html; charset=utf-8");
    });
    http.Get(R"(/files/(.+))", [store](const httplib::Request& req, httplib::Response& res) {
        const auto name = AcceptableUploadName(req.matches[1].str());
        std::error_code ec;
        if (!name || !fs::is_regular_file(store / *name, ec)) {
            res.status = 404;
            return;
        }
        std::ifstream in(store / *name, std::ios::binary);
        std::string body((std::istreambuf_iterator<char>(in)), {});
        const bool mp3 = fs::path(*name).extension() == ".mp3";
        res.set_content(std::move(body), mp3 ? "audio/mpeg" : "audio/wav");
    });
}

}  // namespace kestavo::server
