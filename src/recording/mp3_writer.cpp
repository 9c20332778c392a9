#include "recording/mp3_writer.h"

#include <malloc.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <shared_mutex>

namespace kestavo::recording {

namespace {

// lame_init_params rewrites tables shared by every handle in the process: set-up and close take
// this exclusively, encoding takes it shared (see the header).
std::shared_mutex& LameLock() {
    static std::shared_mutex lock;
    return lock;
}

constexpr int kOutSampleRate = kLineRate;  // every MP3 file is at the line rate, whatever comes in
constexpr int kMinKbps = 8;
constexpr int kMaxKbps = 128;
constexpr const char* kStreamError = "Ошибка создания потока преобразования!";

std::size_t EncodedCapacity(int kbps, int seconds) {
    return std::size_t((long long)std::max(kbps, 0) * 1000 * std::max(seconds, 0) / 8);
}

std::size_t HeapInUse() noexcept {
    const struct mallinfo2 m = ::mallinfo2();
    return m.uordblks + m.hblkhd;
}

// The version field of an MPEG audio frame header (bits 4-3 of its second byte).
enum class MpegVersion : unsigned { Mpeg25 = 0, Reserved = 1, Mpeg2 = 2, Mpeg1 = 3 };
constexpr unsigned kLayer3 = 1;  // the layer field's code (bits 2-1) for Layer III

// Layer III frame length in bytes from a 4-byte header, 0 when it is not a valid header. `ref`
// (when not null) is the first header of the run: version, layer and sample rate must match it.
std::size_t FrameBytes(const std::byte* h, const std::byte* ref) noexcept {
    const auto b1 = unsigned(h[1]), b2 = unsigned(h[2]);
    if (unsigned(h[0]) != 0xFF || (b1 & 0xE0) != 0xE0) return 0;
    const auto version = MpegVersion((b1 >> 3) & 3);
    const unsigned layer = (b1 >> 1) & 3;
    const unsigned rateIndex = b2 >> 4;
    const unsigned srIndex = (b2 >> 2) & 3;
    if (version == MpegVersion::Reserved || layer != kLayer3 || rateIndex == 0 || rateIndex == 15 || srIndex == 3)
        return 0;
    if (ref != nullptr && ((b1 ^ unsigned(ref[1])) & 0xFE) != 0) return 0;
    if (ref != nullptr && ((b2 ^ unsigned(ref[2])) & 0x0C) != 0) return 0;
    static constexpr std::array<unsigned, 15> kMpeg1 = {0,   32,  40,  48,  56,  64,  80, 96,
                                                        112, 128, 160, 192, 224, 256, 320};
    static constexpr std::array<unsigned, 15> kMpeg2 = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static constexpr std::array<unsigned, 3> kRate1 = {44100, 48000, 32000};
    const bool mpeg1 = version == MpegVersion::Mpeg1;
    const unsigned rate = kRate1[srIndex] >> (mpeg1 ? 0 : version == MpegVersion::Mpeg2 ? 1 : 2);
    const unsigned kbps = mpeg1 ? kMpeg1[rateIndex] : kMpeg2[rateIndex];
    const unsigned padding = (b2 >> 1) & 1;
    // 1152 samples per frame in MPEG 1, 576 in MPEG 2 and 2.5: 144 or 72 × bit rate ÷ sample rate.
    return (mpeg1 ? 144u : 72u) * kbps * 1000 / rate + padding;
}

}  // namespace

std::size_t FirstWholeFrame(std::span<const std::byte> bytes) noexcept {
    constexpr std::size_t kLongestFrame = 1441;  // 320 kbit/s at 32 kHz, padded
    const std::size_t size = bytes.size();
    for (std::size_t start = 0; start + 4 <= size && start < kLongestFrame; ++start) {
        const std::byte* ref = bytes.data() + start;
        std::size_t at = start;
        while (at + 4 <= size) {
            const std::size_t n = FrameBytes(bytes.data() + at, ref);
            if (n == 0) break;
            at += n;
        }
        if (at == size) return start;
    }
    return size;
}

int Tmp3_writer::LameQuality(int quality) noexcept {
    switch (Mp3Quality(quality)) {
        case Mp3Quality::Normal: return 5;  // LAME's own default, good quality at a moderate cost
        case Mp3Quality::Low: return 7;     // the fast search, for many channels on a small machine
        case Mp3Quality::High: return 2;    // LAME's recommended best, about twice the work of 5
        case Mp3Quality::Voice: break;
    }
    return 5;  // Voice, and anything unknown: mono speech needs no more than Normal's search
}

Tmp3_writer::Tmp3_writer(const WriterParams& params)
    : Tsound_writer(params), chunkIn_(std::make_unique_for_overwrite<short[]>(kChunkSamples)),
      blockOut_(std::make_unique_for_overwrite<unsigned char[]>(kBlockOutputBytes)) {
    if (StartEncoder(params.mp3Bitrate, params.mp3Quality, params.mp3SampleRate))
        SetPredTime(params.predSeconds);
    else
        delayLine_.resize(0);  // blocks are dropped until an encoder exists
}

Tmp3_writer::~Tmp3_writer() {
    (void)Close({});
    StopEncoder();
}

bool Tmp3_writer::StartEncoder(int bitrateKbps, int quality, int sampleRate) {
    std::unique_lock lock(LameLock());
    const std::size_t heapBefore = HeapInUse();
    lame_t l = lame_init();
    bool ok = l != nullptr;
    ok = ok && lame_set_num_channels(l, 1) == 0;
    ok = ok && lame_set_mode(l, MONO) == 0;
    ok = ok && lame_set_in_samplerate(l, sampleRate > 0 ? sampleRate : kOutSampleRate) == 0;
    ok = ok && lame_set_out_samplerate(l, kOutSampleRate) == 0;  // else 8 kbit/s would pick 8000 Hz
    ok = ok && lame_set_VBR(l, vbr_off) == 0;
    ok = ok && lame_set_brate(l, std::clamp(bitrateKbps, kMinKbps, kMaxKbps)) == 0;
    ok = ok && lame_set_quality(l, LameQuality(quality)) == 0;
    ok = ok && lame_set_error_protection(l, 1) == 0;  // CRC
    ok = ok && lame_set_original(l, 1) == 0;
    ok = ok && lame_set_copyright(l, 0) == 0;
    ok = ok && lame_set_extension(l, 0) == 0;  // private bit
    ok = ok && lame_set_emphasis(l, 0) == 0;
    ok = ok && lame_set_bWriteVbrTag(l, 0) == 0;  // no Xing/Info frame
    ok = ok && lame_init_params(l) >= 0;
    if (!ok) {
        if (l != nullptr) lame_close(l);
        effectiveKbps_ = 0;
        return false;
    }
    lame_ = l;
    framesAtFlush_ = 0;
    effectiveKbps_ = lame_get_brate(l);
    lameBytes_ = HeapInUse() > heapBefore ? HeapInUse() - heapBefore : 0;
    return true;
}

void Tmp3_writer::StopEncoder() noexcept {
    if (lame_ == nullptr) return;
    std::unique_lock lock(LameLock());
    lame_close(lame_);  // pending output is discarded; files were completed before
    lame_ = nullptr;
    effectiveKbps_ = 0;
}

void Tmp3_writer::SetMp3Params(int bitrate, int quality, int sampleRate) {
    if (open_) {
        // The file goes on at the new rate (frames of different rates may follow each other);
        // first everything the old encoder holds goes into it.
        PushOutPending();
    }
    StopEncoder();
    params_.mp3Bitrate = bitrate;
    params_.mp3Quality = quality;
    params_.mp3SampleRate = sampleRate;
    if (StartEncoder(bitrate, quality, sampleRate))
        SetPredTime(predSeconds_);
    else
        delayLine_.resize(0);
}

void Tmp3_writer::SetPredTime(int seconds) {
    predSeconds_ = std::max(seconds, 0);
    delayLine_.resize(EncodedCapacity(effectiveKbps_, predSeconds_));
}

std::error_code Tmp3_writer::Open(const std::string& basePath) {
    if (open_) return {};
    if (!Ready()) {
        openError_ = kStreamError;
        return std::make_error_code(std::errc::operation_not_permitted);
    }
    if (delayLine_.capacity() == 0) {
        // No pre-record: the file must start at the trigger, but LAME still holds the last tenth of
        // a second from before it. A fresh encoder drops that (set-up costs about a millisecond).
        StopEncoder();
        if (!StartEncoder(params_.mp3Bitrate, params_.mp3Quality, params_.mp3SampleRate)) {
            openError_ = kStreamError;
            return std::make_error_code(std::errc::operation_not_permitted);
        }
    }
    // Close the pre-record on a frame that needs nothing after it; the samples LAME still holds
    // continue into the file without a gap.
    FlushReservoir();
    const std::error_code ec = BeginFile(basePath, ".mp3");
    const std::span<const std::byte> pre = delayLine_.Take();
    Append(pre.subspan(FirstWholeFrame(pre)));
    return ec;
}

std::string Tmp3_writer::Close(std::string_view eventText) {
    if (!open_) return fileName_;
    if (Ready()) PushOutPending();
    return EndFile(eventText);
}

void Tmp3_writer::Write(std::span<const std::byte> block) {
    if (!Ready()) return;  // the encoder is being replaced or failed: the block is lost
    busy_.store(true, std::memory_order_release);
    Encode(block);
    busy_.store(false, std::memory_order_release);
}

void Tmp3_writer::Encode(std::span<const std::byte> pcm) {
    std::shared_lock lock(LameLock());
    std::size_t filled = 0;
    const std::size_t samples = pcm.size() / 2;
    for (std::size_t at = 0; at < samples;) {
        const std::size_t n = std::min(kChunkSamples, samples - at);
        if (kBlockOutputBytes - filled < kChunkOutputBytes) {
            Deliver(std::as_bytes(std::span(blockOut_.get(), filled)));
            filled = 0;
        }
        // The block may sit at any address; LAME wants aligned samples.
        if (pcm.data() + 2 * at != reinterpret_cast<const std::byte*>(chunkIn_.get()))
            std::memcpy(chunkIn_.get(), pcm.data() + 2 * at, n * 2);
        const int got = lame_encode_buffer(lame_, chunkIn_.get(), chunkIn_.get(), int(n), blockOut_.get() + filled,
                                           int(kBlockOutputBytes - filled));
        if (got < 0) {
            break;  // LAME failed (it says so by a negative count): this block ends here, what was encoded is kept
        }
        filled += std::size_t(got);
        at += n;
    }
    Deliver(std::as_bytes(std::span(blockOut_.get(), filled)));
}

void Tmp3_writer::PushOutPending() {
    // LAME holds back its look-ahead and a part frame. As lame_encode_flush does, count what is
    // still to be encoded (the counter less the 1152 samples of LAME's own end delay) and feed
    // silence a frame at a time until frames covering it have come out; then flush the reservoir.
    constexpr int kEndDelay = 1152;  // POSTDELAY in LAME's encoder
    const int frame = lame_get_framesize(lame_);
    const int start = lame_get_frameNum(lame_);
    const int toEncode = lame_get_mf_samples_to_encode(lame_) - kEndDelay;
    std::fill_n(chunkIn_.get(), frame, short(0));
    for (int round = 0; round < 8 && (lame_get_frameNum(lame_) - start) * frame < toEncode; ++round)
        Write(std::as_bytes(std::span(chunkIn_.get(), std::size_t(frame))));
    FlushReservoir();
}

void Tmp3_writer::FlushReservoir() {
    std::shared_lock lock(LameLock());
    // With no frame encoded since the last flush there is nothing to flush, and LAME complains.
    const int frames = lame_get_frameNum(lame_);
    if (frames == framesAtFlush_) return;
    framesAtFlush_ = frames;
    const int got = lame_encode_flush_nogap(lame_, blockOut_.get(), int(kBlockOutputBytes));
    if (got > 0) Deliver(std::as_bytes(std::span(blockOut_.get(), std::size_t(got))));
}

void Tmp3_writer::Deliver(std::span<const std::byte> bytes) {
    if (bytes.empty()) return;
    if (open_)
        FileWrite(bytes);
    else
        delayLine_.Put(bytes);
}

void Tmp3_writer::FileWrite(std::span<const std::byte> bytes) { Append(bytes); }

double Tmp3_writer::BytesPerSecond() const noexcept {
    return (effectiveKbps_ > 0 ? effectiveKbps_ : params_.mp3Bitrate) * 1000.0 / 8.0;
}

std::size_t Tmp3_writer::MemoryBytes() const noexcept {
    return Tsound_writer::MemoryBytes() + kChunkSamples * sizeof(short) + kBlockOutputBytes + lameBytes_;
}

}  // namespace kestavo::recording
