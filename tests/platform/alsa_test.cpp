// The ALSA backends without a sound card: a private ALSA configuration defines `file` PCMs over the
// `null` plugin. The capture PCM reads a file we wrote (bit-exact, as fast as it is read; after the
// file's end it would repeat stale data, so the file is longer than what we read); the playback
// PCM writes what it plays to a file.
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/alsa/alsa_input.h"
#include "platform/alsa/alsa_output.h"
#include "platform/line_rate.h"
#include "support/alsa/fault_pcm.h"
#include "support/device_buffers.h"
#include "support/temp_dir.h"
#include "support/wav_io.h"

namespace kestavo::platform {
namespace {

using namespace std::chrono_literals;

class Alsa : public ::testing::Test {
protected:
    Alsa() {
        std::ofstream(dir / "in.raw", std::ios::binary)
            .write(reinterpret_cast<const char*>(input.data()), std::streamsize(input.size()));
        std::filesystem::create_directories(dir / "alsa");
        std::ofstream(dir / "alsa/asoundrc")
            << "pcm.kestavo_in {\n  type file\n  slave.pcm \"null\"\n  file \"/dev/null\"\n"
            << "  infile \"" << (dir / "in.raw").string() << "\"\n  format \"raw\"\n}\n"
            << "pcm.kestavo_out {\n  type file\n  slave.pcm \"null\"\n"
            << "  file \"" << (dir / "out.raw").string() << "\"\n  format \"raw\"\n}\n";
        env.set("XDG_CONFIG_HOME", dir.path().string());
        env.set("KESTAVO_ALSA_PCMS", "kestavo_in, kestavo_out,kestavo_missing");
        snd_config_update_free_global();  // ALSA reads its configuration again, with ours
    }
    ~Alsa() override { snd_config_update_free_global(); }  // and again without it

    // The id of the device named `name`, or -1.
    static int idOf(const auto& devices, const std::string& name) {
        const auto it = std::ranges::find_if(devices, [&](const auto& d) { return d.productName == name; });
        return it == devices.end() ? -1 : int(it - devices.begin());
    }

    test::TempDir dir{"kestavo-alsa"};
    test::ScopedEnv env;
    const std::vector<std::byte> input = test::leBytes(test::numberedSamples(1, 24 * 2048));
    Event stop;
    std::error_code error;
};

TEST_F(Alsa, NamedPcmsThatOpenAreListedAndCaptureIsBitExactThroughCirculatingBuffers) {
    struct Case {
        int channels, bits;
        std::uint32_t bufferBytes;
        std::size_t buffers, reads;  // the file holds 24 buffers of 4096 bytes: it must not run out
    };
    AlsaSoundInputSystem system;
    const auto devices = system.inputDevices();
    const int id = idOf(devices, "kestavo_in");
    ASSERT_GE(id, 0);
    EXPECT_TRUE(devices[std::size_t(id)].mono && devices[std::size_t(id)].stereo);
    EXPECT_EQ(idOf(devices, "kestavo_missing"), -1);
    EXPECT_EQ(system.open(int(devices.size()), WaveFormat::pcm(2, kLineRate, 16), error), nullptr);
    EXPECT_EQ(error, std::errc::no_such_device);
    for (const Case& c : {Case{2, 16, 4096, 6, 20}, Case{1, 8, 3000, 1, 1}}) {
        auto in = system.open(id, WaveFormat::pcm(c.channels, kLineRate, c.bits), error);
        ASSERT_NE(in, nullptr) << error.message();
        test::DeviceBuffers buffers(*in, c.buffers, c.bufferBytes);
        ASSERT_FALSE(in->start());
        for (std::size_t k = 0; k < c.reads; ++k) {  // each buffer the next part of the file
            const auto block = buffers.next(stop);
            ASSERT_EQ(block.size(), c.bufferBytes);
            ASSERT_TRUE(std::equal(block.begin(), block.end(), input.begin() + k * c.bufferBytes))
                << c.bits << " " << k;
        }
        EXPECT_EQ(in->overruns(), 0u);
        stop.set();
        EXPECT_EQ(in->wait(stop, 60s), WaitResult::Stopped);
        stop.reset();
        buffers.finish();
    }
}

TEST_F(Alsa, PlaybackTakesEveryWrittenBufferInOrder) {
    AlsaSoundOutputSystem system;
    const int id = idOf(system.outputDevices(), "kestavo_out");
    ASSERT_GE(id, 0);
    constexpr std::uint32_t kBuffer = 8192;  // 4096 samples
    auto played = test::leBytes(test::numberedSamples(2, 8 * kBuffer / 2));
    {
        auto out = system.open(id, WaveFormat::pcm(1, kLineRate, 16), error);
        ASSERT_NE(out, nullptr) << error.message();
        std::array<WaveHeader, 8> headers;
        for (std::size_t i = 0; i < 8; ++i) {
            headers[i] = WaveHeader{played.data() + i * kBuffer, kBuffer};
            ASSERT_FALSE(out->prepare(headers[i]));
            ASSERT_FALSE(out->write(headers[i]));
        }
        for (const WaveHeader& h : headers) {
            ASSERT_EQ(out->wait(stop, 5s), WaitResult::BufferDone);
            EXPECT_TRUE(h.done && !h.queued);  // in the order written
        }
        EXPECT_EQ(out->wait(stop, 10ms), WaitResult::TimedOut);
        out->reset();
        for (auto& h : headers) out->unprepare(h);
    }  // closed
    const auto written = test::readBytes(dir / "out.raw");
    ASSERT_LE(written.size(), played.size());
    EXPECT_GE(written.size(), played.size() / 2);  // the file PCM writes what its slave has played
    EXPECT_TRUE(std::equal(written.begin(), written.end(), played.begin(),
                           [](std::uint8_t a, std::byte b) { return a == std::uint8_t(b); }));
}

// The same backend over a PCM that fails on demand (tests/support/alsa/fault_pcm.h).
class AlsaFaults : public ::testing::Test {
protected:
    AlsaFaults() {
        std::filesystem::create_directories(dir / "alsa");
        std::ofstream(dir / "alsa/asoundrc") << "pcm_type.kestavo_fault {\n  lib \"" KESTAVO_FAULT_PCM "\"\n}\n"
                                             << "pcm.kestavo_fault {\n  type kestavo_fault\n}\n";
        env.set("XDG_CONFIG_HOME", dir.path().string());
        env.set("KESTAVO_ALSA_PCMS", "kestavo_fault");
        snd_config_update_free_global();
        module = ::dlopen(KESTAVO_FAULT_PCM, RTLD_NOW);  // the PCM ALSA opens shares these controls
        EXPECT_NE(module, nullptr) << ::dlerror();
        inject = reinterpret_cast<KestavoFaultInject>(::dlsym(module, "kestavo_fault_pcm_inject"));
        stall = reinterpret_cast<KestavoFaultStall>(::dlsym(module, "kestavo_fault_pcm_stall"));
        pending = reinterpret_cast<KestavoFaultPending>(::dlsym(module, "kestavo_fault_pcm_pending"));
    }
    ~AlsaFaults() override {
        if (stall) stall(0);
        if (inject) inject(0);
        snd_config_update_free_global();
        if (module) ::dlclose(module);
    }

    // The fault PCM opened mono, 16-bit, with its buffers queued and started.
    std::unique_ptr<SoundInput> openStarted(AlsaSoundInputSystem& system) {
        const auto devices = system.inputDevices();
        const auto it = std::ranges::find_if(devices, [](const auto& d) { return d.productName == "kestavo_fault"; });
        EXPECT_NE(it, devices.end());
        if (it == devices.end()) return nullptr;
        auto in = system.open(int(it - devices.begin()), WaveFormat::pcm(1, kLineRate, 16), error);
        EXPECT_NE(in, nullptr) << error.message();
        return in;
    }

    // Whether the samples run on without a gap (the PCM numbers its frames modulo 16384).
    static bool consecutive(const std::vector<std::byte>& block) {
        std::vector<std::int16_t> s(block.size() / 2);
        std::memcpy(s.data(), block.data(), s.size() * 2);
        for (std::size_t i = 1; i < s.size(); ++i)
            if (s[i] != (s[i - 1] + 1) % 16384) return false;
        return !s.empty();
    }

    test::TempDir dir{"kestavo-alsa-faults"};
    test::ScopedEnv env;
    void* module = nullptr;
    KestavoFaultInject inject = nullptr;
    KestavoFaultStall stall = nullptr;
    KestavoFaultPending pending = nullptr;
    Event stop;
    std::error_code error;
};

TEST_F(AlsaFaults, OverrunsAndSuspensionsAreRecoveredWithoutEndingTheStreamAndAVanishedDeviceIsLost) {
    ASSERT_TRUE(inject && stall && pending);
    struct Case {
        int fault;
        std::uint64_t overruns;
        std::error_code lost;  // empty: the stream goes on
    };
    for (const Case& c : {Case{kKestavoFaultXrun, 1, {}}, Case{kKestavoFaultSuspend, 0, {}},
                          Case{kKestavoFaultDisconnect, 0, make_error_code(std::errc::no_such_device)}}) {
        AlsaSoundInputSystem system;
        auto in = openStarted(system);
        ASSERT_NE(in, nullptr);
        test::DeviceBuffers buffers(*in, 6, 2048);  // 1024 frames each
        ASSERT_FALSE(in->start());
        for (int k = 0; k < 2; ++k) ASSERT_TRUE(consecutive(buffers.next(stop))) << c.fault;
        inject(c.fault);
        if (c.lost) {
            WaitResult r = WaitResult::BufferDone;
            for (int k = 0; k < 64 && r == WaitResult::BufferDone; ++k)  // what the ring still held comes first
                if ((r = in->wait(stop, 5s)) == WaitResult::BufferDone) (void)buffers.take();
            EXPECT_EQ(r, WaitResult::DeviceLost);
            EXPECT_EQ(in->wait(stop, 5s), WaitResult::DeviceLost);  // and stays lost
        } else {
            std::vector<std::byte> block;
            for (int k = 0; k < 4; ++k) block = buffers.next(stop);  // the stream goes on, with new sound
            EXPECT_TRUE(consecutive(block)) << c.fault;
        }
        EXPECT_EQ(pending(), 0) << "the fault " << c.fault << " never struck";
        EXPECT_EQ(in->overruns(), c.overruns) << c.fault;
        EXPECT_EQ(in->lostReason(), c.lost) << c.fault;
        buffers.finish();
    }
}

TEST_F(AlsaFaults, StreamThatStopsDeliveringIsLostAfterTheStallLimitNotBefore) {
    ASSERT_TRUE(inject && stall && pending);
    AlsaSoundInputSystem system;
    system.setStallLimit(1s);
    auto in = openStarted(system);
    ASSERT_NE(in, nullptr);
    test::DeviceBuffers buffers(*in, 6, 2048);
    ASSERT_FALSE(in->start());
    ASSERT_TRUE(consecutive(buffers.next(stop)));
    stall(1);
    const auto stalled = std::chrono::steady_clock::now();
    WaitResult r = WaitResult::BufferDone;
    for (int k = 0; k < 64 && r == WaitResult::BufferDone; ++k)  // what the ring still held comes first
        if ((r = in->wait(stop, 10s)) == WaitResult::BufferDone) (void)buffers.take();
    EXPECT_EQ(r, WaitResult::DeviceLost);
    EXPECT_GE(std::chrono::steady_clock::now() - stalled, 1s);
    EXPECT_EQ(in->lostReason(), std::errc::timed_out);
    buffers.finish();
}

}  // namespace
}  // namespace kestavo::platform
