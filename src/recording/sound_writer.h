#pragma once
// Tsound_writer: the sound writer every channel owns. While no file is open every block the
// channel hands in goes into the pre-record buffer (Tdelay_line); Open creates the file and writes
// the pre-recorded sound first; every later block goes to the file; Close completes the file and,
// when a text was detected during the recording, renames it to carry the text in parentheses.
// Twav_writer writes PCM WAV files, Tmp3_writer MP3 files.
//
// A recording never overwrites another: when the name is taken the writer picks the next free one
// (base + "_2", "_3", … before the extension), and so does the rename that adds the event text.
// The event text is cleaned first (CleanEventText) so that it can only ever name a file in the
// recording's own folder.
//
// A recording is never dropped for a disk that misbehaves for a while. A missing folder is made
// again before the file is created. When the file cannot be created or a write falls short (a full
// disk, a folder that cannot be written, a failing device), the bytes wait in memory in file order
// — up to kRetrySeconds of sound beyond the pre-record — and every later block first tries them
// again; sound beyond that is counted as lost. A file whose folder was deleted while it was written
// is made again under its name with everything written so far. Fault() and LostSeconds() tell the
// channel, which reports them.
//
// Files are written through a FileOps table (recording/file_ops.h) so that tests can inject faults.
//
// Threads: a writer has no lock of its own; its channel calls it with the channel's lock held
// (from the channel thread for blocks and triggers, from the main thread for the operator's
// start and stop, the supervision tick and settings). Busy() may be read without the lock.
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/line_rate.h"
#include "recording/file_ops.h"
#include "recording/prerecord_buffer.h"

namespace kestavo::recording {

// The kind of file a channel records.
enum class FileFormat { Wav, Mp3 };

// The configuration's CompressMode: 0 records WAV, any other value MP3.
[[nodiscard]] constexpr FileFormat FileFormatOfCompressMode(int compressMode) noexcept {
    return compressMode == 0 ? FileFormat::Wav : FileFormat::Mp3;
}
[[nodiscard]] constexpr int CompressModeOf(FileFormat format) noexcept { return format == FileFormat::Wav ? 0 : 1; }

struct WriterParams {
    FileFormat format = FileFormat::Wav;
    int sampleRate = kLineRate;     // samples per second of the blocks handed in
    int captureBits = 16;           // bits per sample of the blocks handed in
    int predSeconds = 7;            // initial pre-record seconds
    int minPreRecordBytes = 32768;  // one block
    int mp3Bitrate = 32;            // kbit/s
    int mp3Quality = 4;             // an Mp3Quality (recording/mp3_writer.h): 4 is Voice
    int mp3SampleRate = kLineRate;  // samples per second handed to the encoder
};

class Tsound_writer {
public:
    explicit Tsound_writer(const WriterParams& params);
    virtual ~Tsound_writer();
    Tsound_writer(const Tsound_writer&) = delete;
    Tsound_writer& operator=(const Tsound_writer&) = delete;

    // Seconds of sound held in memory, beyond the pre-record, while the file cannot be written.
    static constexpr int kRetrySeconds = 60;

    // Creates base path + extension (or the next free name) and writes the pre-recorded sound.
    // When the file cannot be created the recording is open all the same and waits for it (see
    // above); the error is returned and OpenErrorText() gives "Ошибка создания файла <path>!".
    [[nodiscard]] virtual std::error_code Open(const std::string& basePath) = 0;
    // Completes the file; with a non-empty text renames it to "<name up to its first .>(text).ext".
    // Returns the final path (the file's first name when the rename failed; the last file name
    // when nothing was open; empty when the file could never be created).
    virtual std::string Close(std::string_view eventText) = 0;
    // One processed block from the channel: to the file when open, else into the pre-record buffer.
    virtual void Write(std::span<const std::byte> block);
    // MP3 bit rate (kbit/s), quality 1..4, sample rate (Hz); nothing for WAV.
    virtual void SetMp3Params(int bitrate, int quality, int sampleRate) {}

    // Resizes the pre-record buffer for `seconds` (its content is discarded). PCM writers keep
    // max(seconds × rate × capture bits ÷ 8, minimum size) bytes.
    virtual void SetPredTime(int seconds);
    // Bits per sample written to WAV files, 8 or 16; the next open writes it to the header.
    void SetFilebits(int bits) noexcept { fileBits_ = bits == 8 ? 8 : 16; }
    // Deletes the file named by FileName() (a recording shorter than the minimum time).
    [[nodiscard]] std::error_code DeleteFile();
    // Replaces the system calls (tests); call before the first Open.
    void SetFileOps(const FileOps& ops) noexcept { ops_ = ops; }

    // A recording is in progress (its file may still be waiting to be created).
    [[nodiscard]] bool IsOpen() const noexcept { return open_; }
    // The current (or last) recording's file exists on disk.
    [[nodiscard]] bool FileMade() const noexcept { return madeFile_; }
    // The system's error (errno) of the fault in effect: sound is waiting in memory because the
    // file could not be created or written. 0 when everything handed in has reached the file.
    [[nodiscard]] int Fault() const noexcept { return fault_; }
    // Times a file of this writer was made again after its name was removed (see above).
    [[nodiscard]] int FilesRemade() const noexcept { return filesRemade_; }
    // Sound of the current (or last) recording that could not be kept, in seconds.
    [[nodiscard]] double LostSeconds() const noexcept;
    [[nodiscard]] bool Busy() const noexcept { return busy_.load(std::memory_order_acquire); }
    [[nodiscard]] const std::string& FileName() const noexcept { return fileName_; }
    [[nodiscard]] const std::string& OpenErrorText() const noexcept { return openError_; }
    [[nodiscard]] FileFormat Format() const noexcept { return params_.format; }
    [[nodiscard]] const Tdelay_line& PreRecord() const noexcept { return delayLine_; }
    // Seconds of sound the pre-record holds now: what Open puts at the start of the file (for MP3
    // estimated from the bit rate). Read before Open.
    [[nodiscard]] double PreRecordSeconds() const noexcept;
    // Memory the writer holds, in bytes (pre-record storage and work areas).
    [[nodiscard]] virtual std::size_t MemoryBytes() const noexcept;

protected:
    // Writes one block to the open file.
    virtual void FileWrite(std::span<const std::byte> block) = 0;
    // Bytes every file starts with (the WAV header), written when the file is created.
    [[nodiscard]] virtual std::span<const std::byte> FileHead() const noexcept { return {}; }
    // Called after bytes reached the file (the WAV writer brings its size fields up to date).
    virtual void AfterFileGrew() {}
    // File bytes per second of sound, for the retry room and the lost seconds.
    [[nodiscard]] virtual double BytesPerSecond() const noexcept = 0;

    // Starts a recording into basePath + ext: tries to create the file and write FileHead();
    // returns the error when that failed (the recording waits for its file).
    std::error_code BeginFile(const std::string& basePath, std::string_view ext);
    // Sound bytes for the end of the file: written, or kept for a later try (see above).
    void Append(std::span<const std::byte> bytes);
    // Ends the recording: a last try of whatever waits, then closes and renames (CloseAndRename).
    // Empty when the file could never be created.
    std::string EndFile(std::string_view eventText);
    // File bytes handed in so far: those written and those waiting.
    [[nodiscard]] std::uint64_t BytesHandedIn() const noexcept { return fileEnd_ + backlog_.size(); }
    // Bytes of the open file, its head included.
    [[nodiscard]] std::uint64_t FileBytes() const noexcept { return fileEnd_; }

    // Creates the first free one of basePath + ext, basePath + "_2" + ext, … and makes it the
    // current file (fd_, fileName_), making its folder first when it is missing. On failure sets
    // openError_ and returns the error.
    [[nodiscard]] std::error_code CreateFile(const std::string& basePath, std::string_view ext);
    // Writes all of `bytes` at `offset` of the open file; returns the bytes that reached the file
    // (fewer than asked when the disk is full or the write fails, with errno set).
    std::size_t WriteAt(std::uint64_t offset, std::span<const std::byte> bytes) noexcept;
    // Closes the open file; with a text that is not empty after cleaning, moves it to
    // "<folder>/<name up to its first .>(text)<ext>" (or the next free name). Returns the final path.
    std::string CloseAndRename(std::string_view eventText, std::string_view ext);

    WriterParams params_;
    std::string fileName_;
    std::string openError_;
    Tdelay_line delayLine_;
    bool open_ = false;
    std::atomic<bool> busy_{false};
    int fileBits_ = 16;
    int predSeconds_ = 7;  // the pre-record seconds last applied
    FileOps ops_ = SystemFileOps();
    int fd_ = -1;  // the open file, -1 when none

private:
    // Creates the file and writes its head; the error when either failed (nothing is left behind).
    std::error_code tryCreate();
    // Writes what waits; true when nothing waits any more.
    bool drainBacklog();
    // Keeps `bytes` for a later try, as far as the retry room allows; the rest is lost.
    void keep(std::span<const std::byte> bytes);
    // Makes the file again, with everything written so far, when its name was removed while it was
    // being written (its folder deleted). Does nothing while the file is still in place.
    void keepFileInPlace();
    void noteFault(int err) noexcept { fault_ = err != 0 ? err : EIO; }
    // Makes every missing folder of `path`'s parent.
    void makeParentFolders(const std::string& path);

    std::string basePath_;            // of the current recording
    std::string ext_;                 // of the current recording
    std::uint64_t fileEnd_ = 0;       // bytes in the file, head included
    std::vector<std::byte> backlog_;  // bytes handed in that wait for the file, in file order
    std::uint64_t lostBytes_ = 0;     // of the current recording
    int fault_ = 0;
    int filesRemade_ = 0;
    bool madeFile_ = false;
};

// The event text as it may appear in a file name: path separators ('/', '\\'), control characters
// and the characters other systems' file names cannot hold (< > : " | ? *) are removed, blanks at
// either end trimmed, and the result cut to at most 64 bytes at a character boundary.
// Empty means the file keeps its name.
[[nodiscard]] std::string CleanEventText(std::string_view text);

}  // namespace kestavo::recording
