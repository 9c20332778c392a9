// The receiving server on loopback TCP: an upload of a recording (header, 8192-byte blocks,
// receiver writes a temporary file, syncs, names it, marks the catalogue) against a plain socket
// copy of the same bytes into a synced file; and catalogue rows per second (a start and a stop per
// recording) for SQLite and, when $KESTAVO_BENCH_PG names a database, PostgreSQL.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "catalogue/catalogue.h"
#include "platform/stream_socket.h"
#include "receiver/file_receiver.h"
#include "services/upload_client.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::size_t kFileBytes = 16 << 20;  // about 12 minutes of 16-bit sound at 11025 Hz

// A folder for the run's files, removed at exit.
struct Scratch {
    fs::path path;
    Scratch() {
        char tmpl[] = "/tmp/kestavo-bench-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

fs::path scratch() {
    static const Scratch s;
    return s.path;
}

void writeSource(const fs::path& p) {
    std::vector<char> bytes(kFileBytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 31 % 251);
    std::ofstream(p, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// The same bytes over a plain connection into a synced file: the floor any receiver stands on.
void PlainSocketCopy(benchmark::State& state) {
    auto& net = kestavo::platform::systemNetwork();
    std::error_code ec;
    auto listener = net.listen("127.0.0.1", 0, ec);
    const fs::path src = scratch() / "plain-src.bin";
    writeSource(src);
    for (auto _ : state) {
        std::jthread receiver([&] {
            auto c = listener->accept(10s, ec);
            const int fd = ::open((scratch() / "plain-dst.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            std::vector<std::byte> buf(65536);
            for (;;) {
                const auto r = c->receive(buf, 10s);
                if (r.error || r.bytes == 0) break;
                if (::write(fd, buf.data(), r.bytes) < 0) break;
            }
            ::fsync(fd);
            ::close(fd);
        });
        auto c = net.connect("127.0.0.1", listener->port(), 5s, ec);
        std::ifstream in(src, std::ios::binary);
        std::vector<std::byte> buf(8192);
        while (in.read(reinterpret_cast<char*>(buf.data()), std::streamsize(buf.size())) || in.gcount() > 0) {
            if (c->sendAll(std::span(buf.data(), std::size_t(in.gcount())))) break;
        }
        (void)c->finishSending();
        receiver.join();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kFileBytes));
}
BENCHMARK(PlainSocketCopy)->Unit(benchmark::kMillisecond)->UseRealTime();

// One recording through the upload and the receiving server.
void ReceiverUpload(benchmark::State& state) {
    auto& net = kestavo::platform::systemNetwork();
    std::error_code ec;
    kestavo::server::ReceiverOptions o;
    o.store = scratch() / "store";
    kestavo::server::FileReceiver rx(o, net.listen("127.0.0.1", 0, ec),
                                     kestavo::server::MakeCatalogue((scratch() / "bench.sqlite").string()));
    const fs::path master = scratch() / "upload-master.bin";
    writeSource(master);
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path src = scratch() / ("rec" + std::to_string(n++) + ".wav");
        fs::copy_file(master, src);
        state.ResumeTiming();
        kestavo::services::UploadOptions uo;
        const auto r = kestavo::services::SendRecording(net, {"127.0.0.1", rx.port(), src.string()}, uo);
        if (r != kestavo::services::UploadResult::Delivered) state.SkipWithError("upload failed");
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kFileBytes));
}
BENCHMARK(ReceiverUpload)->Unit(benchmark::kMillisecond)->UseRealTime();

void catalogueRows(benchmark::State& state, const std::string& where) {
    auto c = kestavo::server::MakeCatalogue(where);
    if (!c->open()) {
        state.SkipWithError(c->lastError().c_str());
        return;
    }
    std::int32_t id = 0;
    for (auto _ : state) {
        kestavo::server::RecordingRow row;
        row.recordId = ++id, row.recorder = "bench", row.label = "bench 1", row.channel = 1;
        row.file = "r" + std::to_string(id) + ".wav", row.start = "2026-12-05 10:00:00";
        c->startRecording(row);
        c->stopRecording("bench", id, "0:00:10", row.file);
    }
    state.counters["rows_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void CatalogueRowsSqlite(benchmark::State& state) {
    catalogueRows(state, "sqlite:" + (scratch() / "rows.sqlite").string());
}
BENCHMARK(CatalogueRowsSqlite)->UseRealTime();

void CatalogueRowsPostgres(benchmark::State& state) {
    const char* where = std::getenv("KESTAVO_BENCH_PG");
    if (!where) {
        state.SkipWithError("set KESTAVO_BENCH_PG to a PostgreSQL connection text");
        return;
    }
    catalogueRows(state, where);
}
BENCHMARK(CatalogueRowsPostgres)->UseRealTime();

}  // namespace
