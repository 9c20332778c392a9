// The ALSA mixer backend without a sound card: a device that has no card offers a mixer without
// lines, and a card's mixer is stood in for by an ALSA control plug-in (tests/support/alsa/
// mixer_ctl.h) that a private ALSA configuration names, so the simple-element layer of ALSA runs
// as it does over a real card.
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/alsa/alsa_input.h"
#include "platform/alsa/alsa_mixer.h"
#include "support/alsa/mixer_ctl.h"
#include "support/temp_dir.h"

namespace kestavo::platform {
namespace {

class AlsaMixerTest : public ::testing::Test {
protected:
    AlsaMixerTest() {
        std::filesystem::create_directories(dir / "alsa");
        std::ofstream(dir / "alsa/asoundrc") << "pcm.kestavo_in {\n  type file\n  slave.pcm \"null\"\n"
                                             << "  file \"/dev/null\"\n  infile \"/dev/zero\"\n  format \"raw\"\n}\n"
                                             << "ctl_type.kestavo_mixer {\n  lib \"" KESTAVO_MIXER_CTL "\"\n}\n"
                                             << "ctl.kestavo_mixer {\n  type kestavo_mixer\n}\n";
        env.set("XDG_CONFIG_HOME", dir.path().string());
        snd_config_update_free_global();                 // ALSA reads its configuration again, with ours
        module = ::dlopen(KESTAVO_MIXER_CTL, RTLD_NOW);  // the plug-in ALSA opens shares these controls
        EXPECT_NE(module, nullptr) << ::dlerror();
        set = reinterpret_cast<KestavoMixerSet>(::dlsym(module, "kestavo_mixer_ctl_set"));
        get = reinterpret_cast<KestavoMixerGet>(::dlsym(module, "kestavo_mixer_ctl_get"));
        reinterpret_cast<KestavoMixerReset>(::dlsym(module, "kestavo_mixer_ctl_reset"))();
    }
    ~AlsaMixerTest() override {
        snd_config_update_free_global();
        if (module) ::dlclose(module);
    }
    static int lineOf(const SoundMixer& mixer, const std::string& name) {
        const auto lines = mixer.lines();
        const auto it = std::ranges::find(lines, name);
        return it == lines.end() ? -1 : int(it - lines.begin());
    }

    test::TempDir dir{"kestavo-alsa-mixer"};
    test::ScopedEnv env;
    void* module = nullptr;
    KestavoMixerSet set = nullptr;
    KestavoMixerGet get = nullptr;
    std::error_code error;
};

TEST_F(AlsaMixerTest, DeviceWithoutACardHasAMixerWithoutLinesAndNoError) {
    AlsaSoundInputSystem alsa({"kestavo_in"});
    const auto devices = alsa.inputDevices();
    const auto it = std::ranges::find_if(devices, [](const auto& d) { return d.productName == "kestavo_in"; });
    ASSERT_NE(it, devices.end());
    for (int id : {int(it - devices.begin()), int(devices.size()), -1}) {  // the PCM, and ids of no device
        error = std::make_error_code(std::errc::io_error);
        const auto mixer = alsa.openMixer(id, error);
        ASSERT_NE(mixer, nullptr) << id;
        EXPECT_FALSE(error) << id << ": " << error.message();
        EXPECT_TRUE(mixer->lines().empty()) << id;
    }
}

TEST_F(AlsaMixerTest, CaptureElementsAreLinesScaledBothWaysAndEveryChangeIsHeard) {
    auto mixer = AlsaMixer::open("kestavo_mixer", error);
    ASSERT_NE(mixer, nullptr) << error.message();
    auto names = mixer->lines();
    std::ranges::sort(names);
    EXPECT_EQ(names, (std::vector<std::string>{"Aux", "Line", "Mic"}));  // not the playback-only Master
    const int mic = lineOf(*mixer, "Mic"), line = lineOf(*mixer, "Line"), aux = lineOf(*mixer, "Aux");
    int heard = 0;
    mixer->setChangeListener([&] { ++heard; });

    const auto micState = mixer->read(mic);
    ASSERT_TRUE(micState);
    EXPECT_TRUE(micState->hasVolume && micState->hasSwitch && micState->on);
    EXPECT_EQ(micState->volume, 0);
    const auto auxState = mixer->read(aux);
    ASSERT_TRUE(auxState);
    EXPECT_FALSE(auxState->hasVolume);
    EXPECT_TRUE(auxState->hasSwitch);
    EXPECT_FALSE(mixer->read(int(names.size())).has_value());

    // 32768 of 65535 is 15.5002 of 31 steps: 16 on both channels, read back as 33824.5 -> 33825.
    EXPECT_FALSE(mixer->setVolume(mic, 32768));
    EXPECT_EQ(std::pair(get(0, 0), get(0, 1)), std::pair(16L, 16L));
    EXPECT_EQ(mixer->read(mic)->volume, 33825);
    EXPECT_EQ(heard, 0);  // the card reports our own write, but it is no change to what ALSA holds
    // -7..8: 32767 is 7.4999 of 15 steps above -7, so 0; read back as 7/15 of 65535.
    EXPECT_FALSE(mixer->setVolume(line, 32767));
    EXPECT_EQ(get(2, 0), 0);
    EXPECT_EQ(mixer->read(line)->volume, 30583);
    EXPECT_FALSE(mixer->setSwitch(mic, false));
    EXPECT_EQ(std::pair(get(1, 0), get(1, 1)), std::pair(0L, 0L));
    EXPECT_FALSE(mixer->read(mic)->on);
    EXPECT_TRUE(mixer->setVolume(aux, 1000));  // a line without a volume control
    mixer->poll();
    EXPECT_EQ(heard, 0);

    set(2, 0, 8);  // another program turns the line fully up
    mixer->poll();
    EXPECT_EQ(heard, 1);
    EXPECT_EQ(mixer->read(line)->volume, 65535);
}

}  // namespace
}  // namespace kestavo::platform
