// The names a channel gives its recordings, and the test that tells them from other files.
#include "capture/recording_name.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace kestavo::capture {
namespace {

namespace fs = std::filesystem;

TEST(RecordingName, EveryNameTheNamerMakesIsRecognisedWithItsTextAndFreeNameSuffixes) {
    test::TempDir dir;
    const platform::LocalTime times[] = {{2026, 12, 5, 16, 5, 9}, {2026, 1, 1, 0, 0, 0}, {2025, 12, 31, 23, 59, 59}};
    struct Parts {
        const char* prefix;
        int channel;
        bool dayFolders, toServer;
    };
    const Parts kinds[] = {{"", 1, false, false},  {"L_", 2, false, false}, {"desk 3.", 17, false, false},
                           {"", 1, true, false},   {"R", 100, true, false}, {"office", 2, false, true},
                           {"x_", 99, true, false}};
    for (const auto& t : times)
        for (const auto& k : kinds) {
            RecordingNameParts parts{.recordDir = dir.path().string(),
                                     .prefix = k.prefix,
                                     .channelNumber = k.channel,
                                     .toServer = k.toServer,
                                     .tempFolder = dir / "TEMP",
                                     .computerName = "host-1",
                                     .dayFolders = k.dayFolders};
            const std::string base = RecordingBaseName(parts, t);
            for (const char* ending : {".wav", ".mp3", "(12345).wav", "(*35#).mp3", "_2.wav", "(12345)_17.wav"})
                EXPECT_TRUE(IsRecordingName(base + ending)) << base + ending;
        }
}

TEST(RecordingName, OtherFilesAreNotTakenForRecordings) {
    const char* foreign[] = {
        "/r/song.wav",
        "/r/notes 2026.wav",
        "/r/05_12_2026.wav",             // a date alone
        "/r/05_12_2026 16_05_09.wav",    // no channel
        "/r/05_12_2026 16_05_09_1.txt",  // not a sound file
        "/r/05_12_2026 16_05_09_1.WAV.bak",
        "/r/32_12_2026 16_05_09_1.wav",  // no such day
        "/r/05_13_2026 16_05_09_1.wav",  // no such month
        "/r/05_12_2026 24_05_09_1.wav",  // no such hour
        "/r/05_12_2026 16_60_09_1.wav",  // no such minute
        "/r/16_05_09_1.wav",             // the day-folder form outside a day folder
        "/r/backup/16_05_09_1.wav",
        "/r/05_12_2026/take 1.wav",  // a day folder holding something else
        "/r/05_12_2026/16_05_09.wav",
        "/r/05_12_2026/16_05_09_1 copy.wav",
    };
    for (const char* name : foreign) EXPECT_FALSE(IsRecordingName(name)) << name;
}

}  // namespace
}  // namespace kestavo::capture
