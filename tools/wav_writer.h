// wav_writer.h - a stereo WAV file written as the engine mixes, for the tools.
//
// Samples arrive planar (the engine's mMixScratch layout: channel c at
// c * stride) and are written interleaved, as 16-bit PCM (the SDL back end's
// conversion, sdlSampleToS16) or as 32-bit IEEE float (the mix unchanged).
// The file is written as NAME.partial and renamed to NAME by close, so a
// file under its real name is always complete; a writer that is abandoned, or
// destroyed before a successful close, removes its .partial file.
//
// Size: a RIFF header counts bytes in 32 bits, so a file past 4 GiB cannot be
// a plain WAV. When the caller says at open that the sound may grow that
// large, the header keeps room for the 64-bit sizes (a "JUNK" chunk), and
// close writes an RF64 file (EBU Tech 3306: "RF64" and a "ds64" chunk in its
// place; ffmpeg, sox and libsndfile read it) if the data did pass the limit,
// and a plain WAV otherwise. Without that room, close fails rather than write
// a header whose sizes have wrapped.
//
// Threads: one thread per writer. Units: rate in frames per second, sizes in
// bytes.
#pragma once

#include "audio/murmel_sdl.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

class WavWriter {
public:
    static constexpr uint64_t RIFF_LIMIT_BYTES = 0xFFFFFFFFull; // the most a RIFF size field holds

    // aRiffLimitBytes: the largest RIFF size written as a plain WAV (tests
    // lower it to reach the RF64 layout with a small file).
    explicit WavWriter(uint64_t aRiffLimitBytes = RIFF_LIMIT_BYTES) : mRiffLimitBytes(aRiffLimitBytes) {}
    ~WavWriter() { abandon(); }
    WavWriter(const WavWriter &) = delete;
    WavWriter &operator=(const WavWriter &) = delete;

    // Creates NAME.partial; false (errno set) when it cannot be created.
    // aMostFrames: the most frames the caller will add, which decides whether
    // the header keeps room for RF64.
    bool open(const std::filesystem::path &aPath, uint32_t aRate, bool aFloat, uint64_t aMostFrames) {
        mPath = aPath;
        mTemporary = aPath.string() + ".partial";
        mRate = aRate;
        mFloat = aFloat;
        mFrames = 0;
        mOk = true;
        mRoomFor64 = false;
        mRoomFor64 = riffBytes(aMostFrames) > mRiffLimitBytes;
        mFile = std::fopen(mTemporary.c_str(), "wb");
        if (!mFile) return false;
        const std::vector<uint8_t> placeholder(headerBytes(), 0);
        mOk = std::fwrite(placeholder.data(), 1, placeholder.size(), mFile) == placeholder.size();
        return mOk;
    }
    // Appends count frames of two planar channels, stride floats apart.
    void add(const float *aPlanar, uint32_t aStride, uint32_t aCount) {
        if (!mFile || !mOk) return; // after a failed write, nothing more is tried
        bool written = false;
        if (mFloat) {
            std::vector<float> interleaved(2 * static_cast<size_t>(aCount));
            for (uint32_t i = 0; i < aCount; ++i)
                for (uint32_t c = 0; c < 2; ++c) interleaved[2 * i + c] = aPlanar[c * aStride + i];
            written = std::fwrite(interleaved.data(), 4, interleaved.size(), mFile) == interleaved.size();
        } else {
            std::vector<int16_t> interleaved(2 * static_cast<size_t>(aCount));
            for (uint32_t i = 0; i < aCount; ++i)
                for (uint32_t c = 0; c < 2; ++c) interleaved[2 * i + c] = Murmel::sdlSampleToS16(aPlanar[c * aStride + i]);
            written = std::fwrite(interleaved.data(), 2, interleaved.size(), mFile) == interleaved.size();
        }
        if (!written && mOk) mErrno = errno; // the first failure's reason
        mOk = mOk && written;
        mFrames += aCount;
    }
    // Writes the header, closes and renames; false when anything failed (the
    // .partial file is then removed, and *aWhy says what went wrong).
    bool close(std::string *aWhy = nullptr) { return finish(aWhy) && commit(aWhy); }
    // close in two steps, for a caller that renames the file only once the
    // rest of its work has succeeded: finish writes the header and closes the
    // file under its temporary name (partialPath, complete and readable);
    // commit renames it. A finished file that is never committed is removed
    // with the writer.
    bool finish(std::string *aWhy = nullptr) {
        if (!mFile) return fail(aWhy, "not open");
        const bool rf64 = riffBytes(mFrames) > mRiffLimitBytes;
        if (rf64 && !mRoomFor64) {
            abandon();
            return fail(aWhy, "more than 4 GiB of sound, which a WAV header cannot hold");
        }
        const std::vector<uint8_t> header = headerFor(rf64);
        errno = 0;
        bool ok = mOk && std::fseek(mFile, 0, SEEK_SET) == 0 &&
                  std::fwrite(header.data(), 1, header.size(), mFile) == header.size();
        int why = ok ? 0 : mOk ? errno : mErrno;
        if (std::fclose(mFile) != 0) {
            if (ok) why = errno; // a full disk often shows only here, as the buffer goes out
            ok = false;
        }
        mFile = nullptr;
        std::error_code error;
        if (ok) {
            mFinished = true;
            return true;
        }
        std::filesystem::remove(mTemporary, error);
        return fail(aWhy, std::strerror(why ? why : EIO));
    }
    bool commit(std::string *aWhy = nullptr) {
        if (!mFinished) return fail(aWhy, "not finished");
        std::error_code error;
        std::filesystem::rename(mTemporary, mPath, error);
        if (error) return fail(aWhy, error.message());
        mFinished = false;
        return true;
    }
    // Closes and removes the .partial file (nothing is renamed).
    void abandon() {
        if (mFile) std::fclose(mFile);
        if (mFile || mFinished) {
            std::error_code error;
            std::filesystem::remove(mTemporary, error);
        }
        mFile = nullptr;
        mFinished = false;
    }
    const std::filesystem::path &partialPath() const { return mTemporary; }
    uint64_t frames() const { return mFrames; }
    size_t headerBytes() const { return (mFloat ? 58 : 44) + (mRoomFor64 ? DS64_CHUNK_BYTES : 0); }

private:
    static constexpr size_t DS64_CHUNK_BYTES = 8 + 28; // "ds64" (or "JUNK" keeping its place) and its size

    uint32_t sampleBytes() const { return mFloat ? 4 : 2; }
    uint64_t dataBytes(uint64_t aFrames) const { return aFrames * 2 * sampleBytes(); }
    uint64_t riffBytes(uint64_t aFrames) const { return headerBytes() - 8 + dataBytes(aFrames); }

    std::vector<uint8_t> headerFor(bool aRf64) const {
        const uint64_t data = dataBytes(mFrames), riff = riffBytes(mFrames);
        const auto clamp32 = [aRf64](uint64_t v) { return aRf64 ? 0xFFFFFFFFu : static_cast<uint32_t>(v); };
        std::vector<uint8_t> h;
        auto text = [&h](const char *t) { h.insert(h.end(), t, t + 4); };
        auto u16 = [&h](uint32_t v) { for (int i = 0; i < 2; ++i) h.push_back(static_cast<uint8_t>(v >> (8 * i))); };
        auto u32 = [&h](uint32_t v) { for (int i = 0; i < 4; ++i) h.push_back(static_cast<uint8_t>(v >> (8 * i))); };
        auto u64 = [&u32](uint64_t v) { u32(static_cast<uint32_t>(v)); u32(static_cast<uint32_t>(v >> 32)); };
        text(aRf64 ? "RF64" : "RIFF");
        u32(clamp32(riff));
        text("WAVE");
        if (mRoomFor64) {
            text(aRf64 ? "ds64" : "JUNK"); // a JUNK chunk is skipped by every reader
            u32(28);
            u64(aRf64 ? riff : 0);
            u64(aRf64 ? data : 0);
            u64(aRf64 ? mFrames : 0); // the fact chunk's length, in frames
            u32(0);                    // no table of other chunk sizes
        }
        text("fmt ");
        u32(mFloat ? 18 : 16);
        u16(mFloat ? 3 : 1); // IEEE float or PCM
        u16(2);
        u32(mRate);
        u32(mRate * 2 * sampleBytes());
        u16(2 * sampleBytes());
        u16(8 * sampleBytes());
        if (mFloat) {
            u16(0);       // no extension
            text("fact"); // a non-PCM format says its length in frames
            u32(4);
            u32(mFrames > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(mFrames));
        }
        text("data");
        u32(clamp32(data));
        return h;
    }
    static bool fail(std::string *aWhy, const std::string &aText) {
        if (aWhy) *aWhy = aText;
        return false;
    }

    const uint64_t mRiffLimitBytes;
    std::filesystem::path mPath, mTemporary;
    FILE *mFile = nullptr;
    uint32_t mRate = 44100;
    bool mFloat = false;
    bool mOk = true;
    int mErrno = 0;          // why the first write failed
    bool mRoomFor64 = false; // the header holds a JUNK chunk that can become ds64
    bool mFinished = false;  // closed complete under the temporary name, not yet renamed
    uint64_t mFrames = 0;
};
