// The writers on a disk that misbehaves: sound that cannot be written waits in memory and reaches
// the file in order once the disk takes it again; a folder deleted under a file being written is
// made again with all of the file; what cannot be kept is counted as lost, never hidden.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <vector>

#include "recording/mp3_writer.h"
#include "recording/wav_writer.h"
#include "support/faulty_disk.h"
#include "support/temp_dir.h"
#include "support/wav_io.h"

namespace kestavo::recording {
namespace {

namespace fs = std::filesystem;
using test::leBytes;

constexpr std::size_t kSecond = kLineRate;  // one block is one second of sound
constexpr int kPredSeconds = 2;

std::unique_ptr<Tsound_writer> makeWriter(FileFormat format, int fileBits) {
    const WriterParams p{.format = format, .predSeconds = kPredSeconds, .minPreRecordBytes = 0, .mp3Bitrate = 32};
    std::unique_ptr<Tsound_writer> w;
    if (format == FileFormat::Mp3)
        w = std::make_unique<Tmp3_writer>(p);
    else
        w = std::make_unique<Twav_writer>(p);
    w->SetFilebits(fileBits);
    return w;
}

// A recording fed block by block to a writer on the faulty disk and to a twin on the real disk;
// the twin's file is what the faulty one's must become.
struct TwinRecording {
    TwinRecording(FileFormat format, int fileBits, const fs::path& folder)
        : faulty(makeWriter(format, fileBits)), twin(makeWriter(format, fileBits)), folder(folder) {
        faulty->SetFileOps(test::FaultyDisk::ops());
        for (int k = 0; k < kPredSeconds; ++k) block();  // the pre-record
    }
    std::error_code open() {
        EXPECT_FALSE(twin->Open((twinFolder / "twin").string()));
        return faulty->Open((folder / "rec").string());
    }
    void block() {
        const auto samples = test::numberedSamples(next++, kSecond);
        sent.insert(sent.end(), samples.begin(), samples.end());
        faulty->Write(leBytes(samples));
        twin->Write(leBytes(samples));
    }
    void blocks(int n) {
        for (int i = 0; i < n; ++i) block();
    }
    // Closes both; the faulty writer's final path.
    std::string close() {
        twinPath = twin->Close("");
        return faulty->Close("");
    }

    std::unique_ptr<Tsound_writer> faulty, twin;
    fs::path folder;
    test::TempDir twinFolder{"kestavo-twin"};
    std::vector<std::int16_t> sent;  // every sample handed in, pre-record first
    std::string twinPath;
    int next = 0;
};

std::size_t fileSize(const std::string& path) { return std::size_t(fs::file_size(path)); }

TEST(WriteFaults, SoundThatCannotBeWrittenWaitsAndReachesTheFileInOrderWhenTheDiskComesBack) {
    struct Case {
        FileFormat format;
        int bits;
        int err;
        std::uint64_t partial;  // bytes of the failing block that still fit
    };
    const Case cases[] = {{FileFormat::Wav, 16, ENOSPC, 1001},
                          {FileFormat::Wav, 16, EIO, 0},
                          {FileFormat::Wav, 8, ENOSPC, 777},
                          {FileFormat::Mp3, 16, ENOSPC, 333}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "bits " << c.bits << " mp3 " << (c.format == FileFormat::Mp3) << " errno "
                                        << c.err);
        test::TempDir dir;
        test::FaultyDisk disk;
        TwinRecording rec(c.format, c.bits, dir.path());
        ASSERT_FALSE(rec.open());
        rec.blocks(3);
        disk.failWritesBeyond(fileSize(rec.faulty->FileName()) + c.partial, c.err);
        rec.block();
        EXPECT_EQ(rec.faulty->Fault(), c.err);
        rec.blocks(20);  // 21 s of sound, well inside the minute kept in memory
        EXPECT_EQ(rec.faulty->Fault(), c.err);
        disk.heal();
        rec.blocks(2);
        EXPECT_EQ(rec.faulty->Fault(), 0);
        const std::string path = rec.close();
        EXPECT_EQ(rec.faulty->LostSeconds(), 0.0);
        EXPECT_TRUE(rec.faulty->FileMade());
        EXPECT_EQ(test::readBytes(path), test::readBytes(rec.twinPath));
        if (c.format == FileFormat::Wav && c.bits == 16) {
            EXPECT_EQ(test::readWav(path)->samples16(), rec.sent);
        }
    }
}

TEST(WriteFaults, AFileThatCannotBeCreatedWaitsWithItsPreRecordAndGetsEveryBlockOnceMade) {
    for (const FileFormat format : {FileFormat::Wav, FileFormat::Mp3}) {
        for (const int err : {EROFS, EACCES, ENOSPC}) {
            SCOPED_TRACE(testing::Message() << "mp3 " << (format == FileFormat::Mp3) << " errno " << err);
            test::TempDir dir;
            test::FaultyDisk disk;
            TwinRecording rec(format, 16, dir.path());
            disk.refuseNewFiles(err);
            EXPECT_EQ(rec.open().value(), err);
            EXPECT_TRUE(rec.faulty->IsOpen());  // the recording goes on and waits for its file
            EXPECT_FALSE(rec.faulty->FileMade());
            EXPECT_EQ(rec.faulty->OpenErrorText(),
                      "Ошибка создания файла " + (dir / "rec").string() +
                          (format == FileFormat::Mp3 ? ".mp3" : ".wav") + "!");
            rec.blocks(20);
            EXPECT_FALSE(fs::exists(rec.faulty->FileName()));
            disk.heal();
            rec.blocks(2);
            const std::string path = rec.close();
            EXPECT_TRUE(rec.faulty->FileMade());
            EXPECT_EQ(rec.faulty->LostSeconds(), 0.0);
            EXPECT_EQ(test::readBytes(path), test::readBytes(rec.twinPath));
        }
    }
}

TEST(WriteFaults, AnOutageLongerThanTheRoomInMemoryLosesOnlyWhatDidNotFitAndCountsIt) {
    test::TempDir dir;
    test::FaultyDisk disk;
    TwinRecording rec(FileFormat::Wav, 16, dir.path());
    ASSERT_FALSE(rec.open());
    rec.blocks(3);
    const std::size_t before = rec.sent.size();
    disk.failWritesBeyond(fileSize(rec.faulty->FileName()), ENOSPC);
    rec.blocks(70);  // the room holds the pre-record's seconds besides the minute
    const std::size_t kept = std::size_t(Tsound_writer::kRetrySeconds + kPredSeconds) * kSecond;
    EXPECT_GE(rec.faulty->MemoryBytes(), kept * 2);
    disk.heal();
    rec.blocks(2);
    EXPECT_LT(rec.faulty->MemoryBytes(), kept);  // the room is given back once the disk has caught up
    const std::string path = rec.close();
    EXPECT_EQ(rec.faulty->LostSeconds(), 70.0 - Tsound_writer::kRetrySeconds - kPredSeconds);

    // The file holds everything up to the outage, the first 62 s of it, then the sound after it.
    std::vector<std::int16_t> expected(rec.sent.begin(), rec.sent.begin() + std::ptrdiff_t(before + kept));
    expected.insert(expected.end(), rec.sent.end() - 2 * kSecond, rec.sent.end());
    EXPECT_EQ(test::readWav(path)->samples16(), expected);
}

TEST(WriteFaults, ADiskThatNeverComesBackEndsWithNoFileAndAllOfTheSoundCountedAsLost) {
    for (const FileFormat format : {FileFormat::Wav, FileFormat::Mp3}) {
        test::TempDir dir;
        test::FaultyDisk disk;
        TwinRecording rec(format, 16, dir.path());
        disk.refuseNewFiles(ENOSPC);
        EXPECT_TRUE(rec.open());
        rec.blocks(5);
        EXPECT_EQ(rec.close(), "");
        EXPECT_FALSE(rec.faulty->FileMade());
        EXPECT_NEAR(rec.faulty->LostSeconds(), 7.0, format == FileFormat::Mp3 ? 0.5 : 0.0);
        EXPECT_FALSE(fs::exists(dir / "rec.wav") || fs::exists(dir / "rec.mp3"));
    }
}

TEST(WriteFaults, AFolderDeletedWhileAFileIsWrittenIsMadeAgainAndTheFileKeepsAllItsSound) {
    for (const FileFormat format : {FileFormat::Wav, FileFormat::Mp3}) {
        SCOPED_TRACE(format == FileFormat::Mp3 ? "mp3" : "wav");
        test::TempDir dir;
        TwinRecording rec(format, 16, dir / "SOUND" / "1");  // missing at the start: made for the file
        ASSERT_FALSE(rec.open());
        const std::string name = rec.faulty->FileName();
        rec.blocks(3);
        fs::remove_all(dir / "SOUND");
        rec.blocks(1);
        EXPECT_TRUE(fs::exists(name));  // made again at the next block
        rec.blocks(2);
        EXPECT_EQ(rec.close(), name);
        EXPECT_EQ(rec.faulty->LostSeconds(), 0.0);
        EXPECT_EQ(test::readBytes(name), test::readBytes(rec.twinPath));
    }
}

}  // namespace
}  // namespace kestavo::recording
