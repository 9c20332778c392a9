// The ALSA backends without a sound card: a private ALSA configuration defines `file` PCMs over the
// `null` plugin. The capture PCM reads a file we wrote (bit-exact, as fast as it is read; after the
// file's end it would repeat stale data, so the file is longer than what we read); the playback
// PCM writes what it plays to a file.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>

#include "platform/alsa/alsa_input.h"
#include "platform/alsa/alsa_output.h"

namespace kestavo::platform {
namespace {

using namespace std::chrono_literals;

std::vector<std::byte> randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::byte> b(n);
    for (auto& v : b) v = std::byte(rng() & 0xFF);
    return b;
}

std::vector<std::byte> readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<char> c((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::byte> b(c.size());
    std::memcpy(b.data(), c.data(), c.size());
    return b;
}

class Alsa : public ::testing::Test {
protected:
    static constexpr std::size_t kInBytes = 24 * 4096;

    static void SetUpTestSuite() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestavo-alsa-XXXXXX").string();
        dir_ = new std::filesystem::path(::mkdtemp(pattern.data()));
        input_ = new std::vector<std::byte>(randomBytes(kInBytes, 42));
        std::ofstream(*dir_ / "in.raw", std::ios::binary)
            .write(reinterpret_cast<const char*>(input_->data()), std::streamsize(kInBytes));
        std::filesystem::create_directories(*dir_ / "alsa");
        std::ofstream(*dir_ / "alsa" / "asoundrc")
            << "pcm.kestavo_in {\n  type file\n  slave.pcm \"null\"\n  file \"/dev/null\"\n"
            << "  infile \"" << (*dir_ / "in.raw").string() << "\"\n  format \"raw\"\n}\n"
            << "pcm.kestavo_out {\n  type file\n  slave.pcm \"null\"\n"
            << "  file \"" << (*dir_ / "out.raw").string() << "\"\n  format \"raw\"\n}\n";
        saveEnv("XDG_CONFIG_HOME", savedXdg_);
        saveEnv("KESTAVO_ALSA_PCMS", savedPcms_);
        ::setenv("XDG_CONFIG_HOME", dir_->c_str(), 1);
        ::setenv("KESTAVO_ALSA_PCMS", "kestavo_in, kestavo_out,kestavo_missing", 1);
        snd_config_update_free_global();  // ALSA reads its configuration again, with ours
    }

    static void TearDownTestSuite() {
        restoreEnv("XDG_CONFIG_HOME", savedXdg_);
        restoreEnv("KESTAVO_ALSA_PCMS", savedPcms_);
        snd_config_update_free_global();
        std::error_code ec;
        std::filesystem::remove_all(*dir_, ec);
        delete dir_;
        delete input_;
    }

    static void saveEnv(const char* name, std::optional<std::string>& to) {
        const char* v = std::getenv(name);
        to = v ? std::optional<std::string>(v) : std::nullopt;
    }
    static void restoreEnv(const char* name, const std::optional<std::string>& from) {
        if (from)
            ::setenv(name, from->c_str(), 1);
        else
            ::unsetenv(name);
    }

    // The id of the device named `name`, or -1.
    template <class List>
    static int idOf(const List& devices, const std::string& name) {
        for (std::size_t i = 0; i < devices.size(); ++i)
            if (devices[i].productName == name) return int(i);
        return -1;
    }

    static inline std::filesystem::path* dir_ = nullptr;
    static inline std::vector<std::byte>* input_ = nullptr;
    static inline std::optional<std::string> savedXdg_, savedPcms_;
    Event stop;
    std::error_code error;
};

TEST_F(Alsa, NamedPcmsFollowTheCardsAndOnlyThoseThatOpenAreListed) {
    AlsaSoundInputSystem system;
    const auto devices = system.inputDevices();
    const int id = idOf(devices, "kestavo_in");
    ASSERT_GE(id, 0);
    EXPECT_TRUE(devices[std::size_t(id)].mono);
    EXPECT_TRUE(devices[std::size_t(id)].stereo);
    EXPECT_EQ(idOf(devices, "kestavo_missing"), -1);
    EXPECT_EQ(system.open(int(devices.size()), WaveFormat::pcm(2, 11025, 16), error), nullptr);
    EXPECT_EQ(error, std::errc::no_such_device);
}

TEST_F(Alsa, StereoCaptureIsBitExactThroughSixCirculatingBuffers) {
    AlsaSoundInputSystem system;
    const int id = idOf(system.inputDevices(), "kestavo_in");
    ASSERT_GE(id, 0);
    auto in = system.open(id, WaveFormat::pcm(2, 11025, 16), error);
    ASSERT_NE(in, nullptr) << error.message();

    constexpr std::uint32_t kBuffer = 4096;  // 1024 stereo frames
    std::array<std::vector<std::byte>, 6> data;
    std::array<WaveHeader, 6> headers;
    for (int i = 0; i < 6; ++i) {
        data[i].resize(kBuffer);
        headers[i].data = data[i].data();
        headers[i].bufferLength = kBuffer;
        ASSERT_FALSE(in->prepare(headers[i]));
        ASSERT_FALSE(in->addBuffer(headers[i]));
    }
    ASSERT_FALSE(in->start());
    std::vector<std::byte> got;
    for (int k = 0; k < 20; ++k) {  // 20 of the file's 24 buffers
        ASSERT_EQ(in->wait(stop, 5s), WaitResult::BufferDone);
        WaveHeader& h = headers[k % 6];
        ASSERT_TRUE(h.done);
        ASSERT_EQ(h.bytesRecorded, kBuffer);
        got.insert(got.end(), data[k % 6].begin(), data[k % 6].end());
        ASSERT_FALSE(in->addBuffer(h));
    }
    EXPECT_TRUE(std::equal(got.begin(), got.end(), input_->begin()));
    EXPECT_EQ(in->overruns(), 0u);

    stop.set();
    EXPECT_EQ(in->wait(stop, 60s), WaitResult::Stopped);
    in->reset();
    for (const auto& h : headers) EXPECT_FALSE(h.queued);
    in->stop();
    for (auto& h : headers) in->unprepare(h);
    in->close();
}

TEST_F(Alsa, EightBitMonoCaptureReadsOneByteASample) {
    AlsaSoundInputSystem system;
    const int id = idOf(system.inputDevices(), "kestavo_in");
    ASSERT_GE(id, 0);
    auto in = system.open(id, WaveFormat::pcm(1, 11025, 8), error);
    ASSERT_NE(in, nullptr) << error.message();
    std::vector<std::byte> data(3000);
    WaveHeader h{data.data(), 3000};
    ASSERT_FALSE(in->prepare(h));
    ASSERT_FALSE(in->addBuffer(h));
    ASSERT_FALSE(in->start());
    ASSERT_EQ(in->wait(stop, 5s), WaitResult::BufferDone);
    EXPECT_EQ(h.bytesRecorded, 3000u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), input_->begin()));
}

TEST_F(Alsa, PlaybackTakesEveryWrittenBufferInOrder) {
    AlsaSoundOutputSystem system;
    const int id = idOf(system.outputDevices(), "kestavo_out");
    ASSERT_GE(id, 0);
    std::vector<std::byte> played;
    {
        auto out = system.open(id, WaveFormat::pcm(1, 11025, 16), error);
        ASSERT_NE(out, nullptr) << error.message();
        constexpr std::uint32_t kBuffer = 8192;  // 4096 samples
        std::array<std::vector<std::byte>, 8> data;
        std::array<WaveHeader, 8> headers;
        for (int i = 0; i < 8; ++i) {
            data[i] = randomBytes(kBuffer, 100 + unsigned(i));
            headers[i].data = data[i].data();
            headers[i].bufferLength = kBuffer;
            ASSERT_FALSE(out->prepare(headers[i]));
            ASSERT_FALSE(out->write(headers[i]));
            played.insert(played.end(), data[i].begin(), data[i].end());
        }
        for (int i = 0; i < 8; ++i) {
            ASSERT_EQ(out->wait(stop, 5s), WaitResult::BufferDone);
            EXPECT_TRUE(headers[i].done);
            EXPECT_FALSE(headers[i].queued);
        }
        EXPECT_EQ(out->wait(stop, 10ms), WaitResult::TimedOut);
        out->reset();
        for (auto& h : headers) out->unprepare(h);
        out->close();
    }
    const auto written = readFile(*dir_ / "out.raw");
    ASSERT_LE(written.size(), played.size());
    EXPECT_GE(written.size(), played.size() / 2);  // the file PCM writes what its slave has played
    EXPECT_TRUE(std::equal(written.begin(), written.end(), played.begin()));
}

}  // namespace
}  // namespace kestavo::platform
