// SqlConnection over PostgreSQL (libpq): one connection; a lost one shows as connected() false and
// is made again by open().
#include <libpq-fe.h>

#include "catalogue/sql_connection.h"

namespace kestavo::server {

namespace {

class PostgresConnection final : public SqlConnection {
public:
    explicit PostgresConnection(std::string conninfo) : conninfo_(std::move(conninfo)) {}
    ~PostgresConnection() override { close_(); }

    bool open() override {
        close_();
        conn_ = PQconnectdb(conninfo_.c_str());
        if (PQstatus(conn_) != CONNECTION_OK) {
            error_ = PQerrorMessage(conn_);
            close_();
            return false;
        }
        // Notices ("relation already exists, skipping") are not errors: keep them off stderr.
        PQsetNoticeProcessor(
            conn_, [](void*, const char*) {}, nullptr);
        return true;
    }
    bool connected() const override { return conn_ && PQstatus(conn_) == CONNECTION_OK; }

    std::optional<SqlRows> exec(const std::string& sql, const std::vector<std::string>& params) override {
        if (!conn_) {
            error_ = "not connected";
            return std::nullopt;
        }
        std::vector<const char*> values;
        for (const auto& p : params) values.push_back(p.c_str());
        PGresult* r = PQexecParams(conn_, sql.c_str(), int(values.size()), nullptr, values.data(), nullptr, nullptr, 0);
        const auto status = PQresultStatus(r);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            error_ = PQerrorMessage(conn_);
            PQclear(r);
            return std::nullopt;
        }
        SqlRows rows;
        for (int i = 0; i < PQntuples(r); ++i) {
            std::vector<std::optional<std::string>> row;
            for (int c = 0; c < PQnfields(r); ++c)
                row.push_back(PQgetisnull(r, i, c) ? std::nullopt : std::optional<std::string>(PQgetvalue(r, i, c)));
            rows.push_back(std::move(row));
        }
        PQclear(r);
        return rows;
    }
    const std::string& lastError() const override { return error_; }
    bool postgres() const override { return true; }

private:
    void close_() {
        if (conn_) PQfinish(conn_);
        conn_ = nullptr;
    }
    std::string conninfo_;
    PGconn* conn_ = nullptr;
    std::string error_;
};

}  // namespace

std::unique_ptr<SqlConnection> MakePostgresConnection(std::string conninfo) {
    return std::make_unique<PostgresConnection>(std::move(conninfo));
}

}  // namespace kestavo::server
