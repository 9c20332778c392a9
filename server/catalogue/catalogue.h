#pragma once
// Catalogue: the recording server's list of recordings and the identifiers detected during them,
// in SQLite (one computer, or a folder several computers share) or PostgreSQL (many recorders
// reporting to one server). The server access library writes it as recordings start, gain
// identifiers and stop; the receiving server marks recordings uploaded and searches it for the
// web page.
//
// Tables:
//   recordings  (key, record_id, recorder, label, channel, prefix, file, start_time, duration, state)
//               record_id is the id the library gave the recorder; (recorder, record_id) finds the
//               latest row of that recording; file is the name without folder; start_time is
//               "YYYY-MM-DD HH:MM:SS" local time; state is open, closed, deleted or uploaded.
//   identifiers (key, recorder, record_id, kind, text, time)   kind: "aon" (caller ID) or "digits"
//   uploads     (file, size, received)                     every file the receiver took
// A recording whose file arrived before its stop was written is marked uploaded by the stop.
//
// Where it is (OpenCatalogue): "postgresql://…" or "postgres://…" (a libpq connection URI),
// "host=… dbname=…" (libpq key=value form, recognised by an "="), "sqlite:PATH", or a plain PATH
// of an SQLite file.
//
// Every call returns false when it failed; connected() then tells whether the database is gone
// (reopen and try again) or the statement itself failed. Threads: one thread at a time per object.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestavo::server {

struct IdentifierRow {
    std::string kind;  // "aon" or "digits"
    std::string text;
    std::string time;
};

struct RecordingRow {
    std::int64_t key = 0;
    std::int32_t recordId = 0;
    std::string recorder, label;
    int channel = 0;
    std::string prefix, file, start, duration, state;
    std::vector<IdentifierRow> identifiers;
};

struct SearchFilter {
    std::string number;  // part of a caller ID or dialled digits; empty: any
    int channel = 0;     // 0: any
    std::string date;    // "YYYY-MM-DD"; empty: any
    int limit = 200;
};

class Catalogue {
public:
    virtual ~Catalogue() = default;
    // Connects (again) and creates the tables when missing.
    virtual bool open() = 0;
    [[nodiscard]] virtual bool connected() const = 0;
    [[nodiscard]] virtual const std::string& lastError() const = 0;

    virtual bool startRecording(const RecordingRow& row) = 0;  // state open
    virtual bool addIdentifier(const std::string& recorder, std::int32_t recordId, const IdentifierRow& id) = 0;
    virtual bool stopRecording(const std::string& recorder, std::int32_t recordId, const std::string& duration,
                               const std::string& file) = 0;
    virtual bool deleteRecording(const std::string& recorder, std::int32_t recordId) = 0;
    virtual bool markUploaded(const std::string& file, std::int64_t sizeBytes, const std::string& time) = 0;
    // Newest first; `ok` false when the query failed.
    virtual std::vector<RecordingRow> search(const SearchFilter& filter, bool& ok) = 0;
};

// The catalogue `where` names (see above); not yet opened.
[[nodiscard]] std::unique_ptr<Catalogue> MakeCatalogue(const std::string& where);
// True when `where` names a PostgreSQL database.
[[nodiscard]] bool IsPostgres(const std::string& where);

// Local time now as "YYYY-MM-DD HH:MM:SS".
[[nodiscard]] std::string CatalogueTimeNow();

}  // namespace kestavo::server
