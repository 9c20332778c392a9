#pragma once
// Tmp3_writer: the sound writer of channels that record MP3. Every block the channel hands in is
// encoded at once with LAME (one encoder handle per writer, kept for the writer's life); the
// encoded bytes go to the open file or, while no file is open, into the pre-record buffer, which
// therefore holds MP3 bytes: bit rate × 1000 × seconds ÷ 8 of them.
//
// Stream: mono, constant bit rate, 11025 Hz out whatever the input rate, CRC on, "original" set,
// "copyright" clear, no VBR and no Xing/Info frame, so every frame is alike and a file can be cut
// and joined at any frame. At 11025 Hz (MPEG 2.5) the highest rate is 64 kbit/s: LAME clamps 80 to
// 128 to 64, and EffectiveBitrate() says what is really encoded.
//
// File boundaries:
//  - Open flushes the encoder's bit reservoir into the pre-record buffer (no samples are lost or
//    added: the PCM LAME still holds goes on into the file), then cuts the pre-record at the first
//    whole frame so the file starts on a frame header, and writes it first.
//  - With no pre-record (0 s) Open starts a fresh encoder instead, so that nothing from before the
//    trigger reaches the file.
//  - Close pushes the encoder's pending samples out with a little silence and flushes, so the file
//    ends with all of its own sound; the next recording starts on a fresh frame.
//  The first frame of a pre-record may point into the bit reservoir of a frame that dropped out of
//  the buffer; a decoder then mutes that one frame (52 ms at 11025 Hz).
//
// Threads: as Tsound_writer — called with the channel's lock held. Busy() is set while a block is
// encoded. LAME's set-up rewrites process-wide tables, so all writers share one reader/writer lock:
// encoding holds it shared, setting an encoder up or closing it holds it exclusively.
#include <lame/lame.h>

#include <cstdint>
#include <memory>

#include "recording/sound_writer.h"

namespace kestavo::recording {

// The MP3 quality settings, as WriterParams::mp3Quality and SetMp3Params carry them.
enum class Mp3Quality { Normal = 1, Low = 2, High = 3, Voice = 4 };

class Tmp3_writer final : public Tsound_writer {
public:
    // Samples handed to LAME per call, and the output room LAME asks for per call
    // (1.25 × samples + 7200, from lame.h).
    static constexpr std::size_t kChunkSamples = 4096;
    static constexpr std::size_t kChunkOutputBytes = kChunkSamples * 5 / 4 + 7200;
    // Collects one block's encoded bytes for a single file write: a 16384-sample block at 64 kbit/s
    // gives about 11900 bytes, two chunks' worst case fit.
    static constexpr std::size_t kBlockOutputBytes = 32768;

    // Sets the encoder up with params.mp3Bitrate, mp3Quality and mp3SampleRate. When that fails the
    // writer is not Ready() and Open() fails with "Ошибка создания потока преобразования!".
    explicit Tmp3_writer(const WriterParams& params);
    ~Tmp3_writer() override;

    // Creates base path + ".mp3" (or the next free name) and writes the pre-recorded frames.
    // Does nothing when a file is open; fails when the encoder is not ready.
    [[nodiscard]] std::error_code Open(const std::string& basePath) override;
    std::string Close(std::string_view eventText) override;
    // Encodes one block of 16-bit samples; dropped while the encoder is not ready.
    void Write(std::span<const std::byte> block) override;
    // Main thread: ends the current encoder and sets up a new one (bit rate kbit/s, clamped to
    // 8..128; quality 1..4; input sample rate Hz). The pre-record buffer is resized for the new rate
    // and emptied. A file open meanwhile is completed first.
    void SetMp3Params(int bitrate, int quality, int sampleRate) override;
    // Pre-record of effective bit rate × 1000 × seconds ÷ 8 bytes; 0 s keeps nothing.
    void SetPredTime(int seconds) override;
    [[nodiscard]] std::size_t MemoryBytes() const noexcept override;

    [[nodiscard]] bool Ready() const noexcept { return lame_ != nullptr; }
    // kbit/s actually encoded (0 when not ready).
    [[nodiscard]] int EffectiveBitrate() const noexcept { return effectiveKbps_; }

    // LAME's quality (0 best … 9 fastest) for a quality setting (Mp3Quality). Unknown values give Voice.
    [[nodiscard]] static int LameQuality(int quality) noexcept;

protected:
    // Writes already encoded bytes to the open file.
    void FileWrite(std::span<const std::byte> bytes) override;
    [[nodiscard]] double BytesPerSecond() const noexcept override;

private:
    bool StartEncoder(int bitrateKbps, int quality, int sampleRate);
    void StopEncoder() noexcept;
    // Encodes samples into blockOut_, handing full areas and the rest to Deliver.
    void Encode(std::span<const std::byte> pcm);
    // Encodes the samples LAME still holds (padding with silence) and flushes: nothing handed in
    // stays behind.
    void PushOutPending();
    // Flushes the bit reservoir (lame_encode_flush_nogap) and delivers the bytes.
    void FlushReservoir();
    // Encoded bytes to the file when open, else to the pre-record buffer.
    void Deliver(std::span<const std::byte> bytes);

    lame_t lame_ = nullptr;
    int effectiveKbps_ = 0;                      // bit rate LAME really encodes, kbit/s
    std::size_t lameBytes_ = 0;                  // heap LAME took for this handle, measured at set-up
    int framesAtFlush_ = 0;                      // LAME's frame count at the last reservoir flush
    std::unique_ptr<short[]> chunkIn_;           // kChunkSamples samples
    std::unique_ptr<unsigned char[]> blockOut_;  // kBlockOutputBytes
};

// Offset of the first MP3 frame from which whole frames run exactly to the end of `bytes`, or
// bytes.size() when there is none. Reads MPEG 1, 2 and 2.5 Layer III headers.
[[nodiscard]] std::size_t FirstWholeFrame(std::span<const std::byte> bytes) noexcept;

}  // namespace kestavo::recording
