// SqlConnection over SQLite: WAL journal so that the receiver and the recorders' libraries can
// share one file, and a busy time-out so that a writer waits for another instead of failing.
#include <sqlite3.h>

#include "catalogue/sql_connection.h"

namespace kestavo::server {

namespace {

class SqliteConnection final : public SqlConnection {
public:
    explicit SqliteConnection(std::string path) : path_(std::move(path)) {}
    ~SqliteConnection() override { close_(); }

    bool open() override {
        close_();
        if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                            nullptr) != SQLITE_OK) {
            error_ = db_ ? sqlite3_errmsg(db_) : "cannot open " + path_;
            close_();
            return false;
        }
        sqlite3_busy_timeout(db_, 10000);
        // WAL lets readers and one writer work at once; NORMAL syncs at checkpoints, which keeps every
        // committed row through a crash of any program and loses at most the last ones on a power cut.
        return exec("PRAGMA journal_mode=WAL", {}).has_value() && exec("PRAGMA synchronous=NORMAL", {}).has_value();
    }
    bool connected() const override { return db_ != nullptr; }

    std::optional<SqlRows> exec(const std::string& sql, const std::vector<std::string>& params) override {
        if (!db_) {
            error_ = "not connected";
            return std::nullopt;
        }
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), int(sql.size()), &st, nullptr) != SQLITE_OK) {
            error_ = sqlite3_errmsg(db_);
            return std::nullopt;
        }
        for (std::size_t i = 0; i < params.size() && int(i) < sqlite3_bind_parameter_count(st); ++i)
            sqlite3_bind_text(st, int(i + 1), params[i].data(), int(params[i].size()), SQLITE_TRANSIENT);
        SqlRows rows;
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            std::vector<std::optional<std::string>> row;
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                const auto* t = sqlite3_column_text(st, c);
                row.push_back(t ? std::optional<std::string>(reinterpret_cast<const char*>(t)) : std::nullopt);
            }
            rows.push_back(std::move(row));
        }
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE) {
            error_ = sqlite3_errmsg(db_);
            return std::nullopt;
        }
        return rows;
    }
    const std::string& lastError() const override { return error_; }
    bool postgres() const override { return false; }

private:
    void close_() {
        if (db_) sqlite3_close_v2(db_);
        db_ = nullptr;
    }
    std::string path_;
    sqlite3* db_ = nullptr;
    std::string error_;
};

}  // namespace

std::unique_ptr<SqlConnection> MakeSqliteConnection(std::string path) {
    return std::make_unique<SqliteConnection>(std::move(path));
}

}  // namespace kestavo::server
