#pragma once
// SqlConnection: the little the catalogue needs from a database — run one statement with text
// parameters ($1, $2 … numbered in the order they first appear) and get the rows back as texts.
// Backends: SQLite (sqlite3) and PostgreSQL (libpq). One thread at a time.
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestavo::server {

using SqlRows = std::vector<std::vector<std::optional<std::string>>>;

class SqlConnection {
public:
    virtual ~SqlConnection() = default;
    virtual bool open() = 0;
    [[nodiscard]] virtual bool connected() const = 0;
    // nullopt on failure (lastError set; connected() false when the connection itself was lost).
    virtual std::optional<SqlRows> exec(const std::string& sql, const std::vector<std::string>& params = {}) = 0;
    [[nodiscard]] virtual const std::string& lastError() const = 0;
    [[nodiscard]] virtual bool postgres() const = 0;
};

[[nodiscard]] std::unique_ptr<SqlConnection> MakeSqliteConnection(std::string path);
[[nodiscard]] std::unique_ptr<SqlConnection> MakePostgresConnection(std::string conninfo);

}  // namespace kestavo::server
