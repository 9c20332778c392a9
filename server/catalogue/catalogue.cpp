// The catalogue over either SQL backend: one set of statements, written so that SQLite and
// PostgreSQL both take them (parameters cast where PostgreSQL could not infer their type).
#include "catalogue/catalogue.h"

#include <charconv>
#include <ctime>

#include "catalogue/sql_connection.h"

namespace kestavo::server {

namespace {

std::string toText(std::int64_t v) { return std::to_string(v); }

class SqlCatalogue final : public Catalogue {
public:
    explicit SqlCatalogue(std::unique_ptr<SqlConnection> db) : db_(std::move(db)) {}

    bool open() override {
        if (!db_->open()) return false;
        const std::string key = db_->postgres() ? "key BIGSERIAL PRIMARY KEY" : "key INTEGER PRIMARY KEY AUTOINCREMENT";
        const char* rest[] = {
            "CREATE INDEX IF NOT EXISTS recordings_by_id ON recordings(recorder, record_id)",
            "CREATE INDEX IF NOT EXISTS recordings_by_file ON recordings(file)",

            "CREATE INDEX IF NOT EXISTS identifiers_by_id ON identifiers(recorder, record_id)",
            "CREATE TABLE IF NOT EXISTS uploads (file TEXT PRIMARY KEY, size BIGINT NOT NULL, received TEXT NOT NULL)"};
        if (!run("CREATE TABLE IF NOT EXISTS recordings (" + key +
                 ", record_id INTEGER NOT NULL, recorder TEXT NOT NULL, label TEXT NOT NULL, "
                 "channel INTEGER NOT NULL, prefix TEXT NOT NULL, file TEXT NOT NULL, start_time TEXT NOT NULL, "
                 "duration TEXT NOT NULL DEFAULT '', state TEXT NOT NULL DEFAULT 'open')"))
            return false;
        if (!run("CREATE TABLE IF NOT EXISTS identifiers (" + key +
                 ", recorder TEXT NOT NULL, record_id INTEGER NOT NULL, kind TEXT NOT NULL, text TEXT NOT NULL, "
                 "time TEXT NOT NULL)"))
            return false;
        for (const char* s : rest)
            if (!run(s)) return false;
        return true;
    }
    bool connected() const override { return db_->connected(); }
    const std::string& lastError() const override { return db_->lastError(); }

    bool startRecording(const RecordingRow& r) override {
        return run(
            "INSERT INTO recordings (record_id, recorder, label, channel, prefix, file, start_time, state) "
            "VALUES (CAST($1 AS INTEGER), $2, $3, CAST($4 AS INTEGER), $5, $6, $7, 'open')",
            {toText(r.recordId), r.recorder, r.label, toText(r.channel), r.prefix, r.file, r.start});
    }
    bool addIdentifier(const std::string& recorder, std::int32_t id, const IdentifierRow& i) override {
        return run(
            "INSERT INTO identifiers (recorder, record_id, kind, text, time) "
            "VALUES ($1, CAST($2 AS INTEGER), $3, $4, $5)",
            {recorder, toText(id), i.kind, i.text, i.time});
    }
    bool stopRecording(const std::string& recorder, std::int32_t id, const std::string& duration,
                       const std::string& file) override {
        return run(
            "UPDATE recordings SET duration = $1, file = $2, state = CASE WHEN EXISTS "
            "(SELECT 1 FROM uploads u WHERE u.file = $2) THEN 'uploaded' ELSE 'closed' END "
            "WHERE key = (SELECT max(key) FROM recordings WHERE recorder = $3 AND record_id = CAST($4 AS INTEGER))",
            {duration, file, recorder, toText(id)});
    }
    bool deleteRecording(const std::string& recorder, std::int32_t id) override {
        return run(
            "UPDATE recordings SET state = 'deleted' WHERE key = (SELECT max(key) FROM recordings "
            "WHERE recorder = $1 AND record_id = CAST($2 AS INTEGER))",
            {recorder, toText(id)});
    }
    bool markUploaded(const std::string& file, std::int64_t size, const std::string& time) override {
        return run("INSERT INTO uploads (file, size, received) VALUES ($1, CAST($2 AS BIGINT), $3) "
                   "ON CONFLICT (file) DO NOTHING",
                   {file, toText(size), time}) &&
            run("UPDATE recordings SET state = 'uploaded' WHERE file = $1 AND state <> 'deleted'", {file});
    }

    std::vector<RecordingRow> search(const SearchFilter& f, bool& ok) override {
        std::vector<RecordingRow> out;
        const auto rows = db_->exec(
            "SELECT key, record_id, recorder, label, channel, prefix, file, start_time, duration, state "
            "FROM recordings r WHERE (CAST($1 AS TEXT) = '' OR EXISTS (SELECT 1 FROM identifiers i "
            "WHERE i.recorder = r.recorder AND i.record_id = r.record_id AND i.text LIKE '%' || $1 || '%')) "
            "AND (CAST($2 AS INTEGER) = 0 OR r.channel = CAST($2 AS INTEGER)) "
            "AND (CAST($3 AS TEXT) = '' OR r.start_time LIKE $3 || '%') AND r.state <> 'deleted' "
            "ORDER BY r.key DESC LIMIT CAST($4 AS INTEGER)",
            {f.number, toText(f.channel), f.date, toText(f.limit)});
        ok = rows.has_value();
        if (!rows) return out;
        for (const auto& r : *rows) {
            RecordingRow row;
            auto text = [&](std::size_t i) { return r[i].value_or(""); };
            auto number = [&](std::size_t i) {
                std::int64_t v = 0;
                const std::string t = text(i);
                std::from_chars(t.data(), t.data() + t.size(), v);
                return v;
            };
            row.key = number(0);
            row.recordId = std::int32_t(number(1));
            row.recorder = text(2), row.label = text(3);
            row.channel = int(number(4));
            row.prefix = text(5), row.file = text(6), row.start = text(7), row.duration = text(8), row.state = text(9);
            const auto ids = db_->exec(
                "SELECT kind, text, time FROM identifiers WHERE recorder = $1 AND record_id = CAST($2 AS INTEGER) "
                "ORDER BY key",
                {row.recorder, toText(row.recordId)});
            if (ids)
                for (const auto& i : *ids)
                    row.identifiers.push_back({i[0].value_or(""), i[1].value_or(""), i[2].value_or("")});
            out.push_back(std::move(row));
        }
        return out;
    }

private:
    bool run(const std::string& sql, const std::vector<std::string>& params = {}) {
        return db_->exec(sql, params).has_value();
    }
    std::unique_ptr<SqlConnection> db_;
};

}  // namespace

bool IsPostgres(const std::string& where) {
    return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0 ||
        (where.find('=') != std::string::npos && where.rfind("sqlite:", 0) != 0);
}

std::unique_ptr<Catalogue> MakeCatalogue(const std::string& where) {
    if (IsPostgres(where)) return std::make_unique<SqlCatalogue>(MakePostgresConnection(where));
    const std::string path = where.rfind("sqlite:", 0) == 0 ? where.substr(7) : where;
    return std::make_unique<SqlCatalogue>(MakeSqliteConnection(path));
}

std::string CatalogueTimeNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

}  // namespace kestavo::server
