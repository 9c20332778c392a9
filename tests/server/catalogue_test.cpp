// The catalogue on SQLite, and the server access library writing it as a recorder would.
#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "services/server_api.h"
#include "support/temp_dir.h"

namespace kestavo::server {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

RecordingRow row(std::int32_t id, const std::string& recorder, int channel, const std::string& file,
                 const std::string& start) {
    RecordingRow r;
    r.recordId = id, r.recorder = recorder, r.label = recorder + " " + std::to_string(channel), r.channel = channel;
    r.prefix = "p", r.file = file, r.start = start;
    return r;
}

std::vector<std::string> files(const std::vector<RecordingRow>& rows) {
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(r.file + ":" + r.state);
    return out;
}

TEST(Catalogue, SearchFindsRecordingsByNumberChannelAndDateNewestFirstAndHidesDeletedOnes) {
    test::TempDir dir("kestavo-catalogue");
    auto c = MakeCatalogue("sqlite:" + (dir.path() / "c.sqlite").string());
    ASSERT_TRUE(c->open()) << c->lastError();
    ASSERT_TRUE(c->startRecording(row(7, "desk1", 1, "a.wav", "2026-12-05 10:00:00")));
    ASSERT_TRUE(c->addIdentifier("desk1", 7, {"aon", "4951234567", "2026-12-05 10:00:01"}));
    ASSERT_TRUE(c->stopRecording("desk1", 7, "0:00:09", "a.wav"));
    ASSERT_TRUE(c->startRecording(row(7, "desk2", 2, "b.wav", "2026-12-06 11:00:00")));  // same id, other recorder
    ASSERT_TRUE(c->addIdentifier("desk2", 7, {"digits", "123", "2026-12-06 11:00:02"}));
    ASSERT_TRUE(c->startRecording(row(8, "desk1", 1, "c.wav", "2026-12-06 12:00:00")));
    ASSERT_TRUE(c->deleteRecording("desk1", 8));

    struct Case {
        SearchFilter filter;
        std::vector<std::string> found;
    } cases[] = {
        {{}, {"b.wav:open", "a.wav:closed"}},
        {{.number = "1234"}, {"a.wav:closed"}},
        {{.number = "123"}, {"b.wav:open", "a.wav:closed"}},
        {{.channel = 2}, {"b.wav:open"}},
        {{.date = "2026-12-05"}, {"a.wav:closed"}},
        {{.number = "999"}, {}},
    };
    for (const auto& k : cases) {
        bool ok = false;
        EXPECT_EQ(files(c->search(k.filter, ok)), k.found)
            << k.filter.number << "/" << k.filter.channel << "/" << k.filter.date;
        EXPECT_TRUE(ok);
    }
    bool ok = false;
    const auto a = c->search({.number = "495"}, ok);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(std::tuple(a[0].recorder, a[0].label, a[0].channel, a[0].duration, a[0].identifiers.size()),
              std::tuple(std::string("desk1"), std::string("desk1 1"), 1, std::string("0:00:09"), std::size_t(1)));
}

TEST(Catalogue, UploadMarksTheRecordingEvenWhenTheFileArrivesBeforeTheStop) {
    test::TempDir dir("kestavo-catalogue");
    auto c = MakeCatalogue((dir.path() / "c.sqlite").string());
    ASSERT_TRUE(c->open());
    ASSERT_TRUE(c->startRecording(row(1, "d", 1, "x.wav", "2026-12-05 10:00:00")));
    ASSERT_TRUE(c->startRecording(row(2, "d", 1, "y.wav", "2026-12-05 10:01:00")));
    ASSERT_TRUE(c->stopRecording("d", 1, "0:00:07", "x.wav"));
    ASSERT_TRUE(c->markUploaded("x.wav", 100, "t"));  // after its stop
    ASSERT_TRUE(c->markUploaded("y.wav", 100, "t"));  // before its stop
    ASSERT_TRUE(c->stopRecording("d", 2, "0:00:08", "y.wav"));
    ASSERT_TRUE(c->markUploaded("y.wav", 100, "t"));  // a repeated delivery changes nothing
    bool ok = false;
    EXPECT_EQ(files(c->search({}, ok)), (std::vector<std::string>{"y.wav:uploaded", "x.wav:uploaded"}));
}

TEST(CatalogueForms, PostgresIsRecognisedByItsUriOrKeyValueFormEverythingElseIsSqlite) {
    const std::pair<const char*, bool> cases[] = {
        {"postgresql://u@h:5432/db", true}, {"postgres://h/db", true}, {"host=/tmp port=5433 dbname=k", true},
        {"sqlite:/x/c.sqlite", false},      {"/x/c.sqlite", false},    {"ptSingleUser", false}};
    for (const auto& [text, pg] : cases) EXPECT_EQ(IsPostgres(text), pg) << text;
}

// The library as the recorder loads it, writing an SQLite catalogue that appears only later:
// the calls made meanwhile wait in their order and none is lost.
TEST(NetlocateLibrary, CallsMadeWhileTheCatalogueIsUnreachableArriveInOrderOnceItIsBack) {
    test::TempDir dir("kestavo-netlocate");
    test::ScopedEnv env("XDG_CONFIG_HOME", (dir.path() / "config").string());
    const fs::path lib = dir.path() / "netlocate.so";
    fs::copy_file(KESTAVO_NETLOCATE, lib);
    auto l = services::NetlocateLibrary::load(lib);
    ASSERT_TRUE(l);
    const fs::path later = dir.path() / "later";
    const std::string where = "sqlite:" + (later / "c.sqlite").string();
    l->init_base("rec@127.0.0.1", where, "desk9", "pw");
    const std::int32_t id = l->start_rec_file("/tmp/TEMP/r1.wav", "pre", "desk9 3");
    EXPECT_NE(id, 0);
    l->add_aon(id, "4957654321");
    l->add_nabor(id, "0042");
    l->stop_rec_file(id, "0:00:12", "r1.wav");
    const std::int32_t gone = l->start_rec_file("/tmp/TEMP/r2.wav", "pre", "desk9 3");
    EXPECT_NE(gone, id);
    l->del_rec(gone);
    fs::create_directories(later);  // the catalogue can be made now
    l->close();                     // waits for the queue
    auto c = MakeCatalogue(where);
    ASSERT_TRUE(c->open());
    bool ok = false;
    const auto rows = c->search({}, ok);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(std::tuple(rows[0].recorder, rows[0].label, rows[0].channel, rows[0].prefix, rows[0].file,
                         rows[0].duration, rows[0].state),
              std::tuple(std::string("desk9"), std::string("desk9 3"), 3, std::string("pre"), std::string("r1.wav"),
                         std::string("0:00:12"), std::string("closed")));
    ASSERT_EQ(rows[0].identifiers.size(), 2u);
    EXPECT_EQ(rows[0].identifiers[0].kind + rows[0].identifiers[1].kind, "aondigits");
    std::string name, second;
    EXPECT_TRUE(l->init(name, second));  // the last server used
    EXPECT_EQ(std::pair(name, second), std::pair(std::string("rec@127.0.0.1"), where));
}

}  // namespace
}  // namespace kestavo::server
