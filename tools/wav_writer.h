// wav_writer.h - a stereo WAV file written as the engine mixes, for the tools.
//
// Samples arrive planar (the engine's mMixScratch layout: channel c at
// c * stride) and are written interleaved, as 16-bit PCM (the SDL back end's
// conversion, sdlSampleToS16) or as 32-bit IEEE float (the mix unchanged).
// The file is written as NAME.partial and renamed to NAME by close, so a
// file under its real name is always complete.
//
// Threads: one thread per writer. Units: rate in frames per second.
#pragma once

#include "audio/murmel_sdl.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

class WavWriter {
public:
    ~WavWriter() {
        if (mFile) std::fclose(mFile);
    }
    // Creates NAME.partial; false when it cannot be created.
    bool open(const std::filesystem::path &aPath, uint32_t aRate, bool aFloat) {
        mPath = aPath;
        mTemporary = aPath.string() + ".partial";
        mRate = aRate;
        mFloat = aFloat;
        mFile = std::fopen(mTemporary.c_str(), "wb");
        if (!mFile) return false;
        const std::vector<uint8_t> placeholder(headerBytes(), 0);
        return std::fwrite(placeholder.data(), 1, placeholder.size(), mFile) == placeholder.size();
    }
    // Appends count frames of two planar channels, stride floats apart.
    void add(const float *aPlanar, uint32_t aStride, uint32_t aCount) {
        if (mFloat) {
            std::vector<float> interleaved(2 * static_cast<size_t>(aCount));
            for (uint32_t i = 0; i < aCount; ++i)
                for (uint32_t c = 0; c < 2; ++c) interleaved[2 * i + c] = aPlanar[c * aStride + i];
            mOk = mOk && std::fwrite(interleaved.data(), 4, interleaved.size(), mFile) == interleaved.size();
        } else {
            std::vector<int16_t> interleaved(2 * static_cast<size_t>(aCount));
            for (uint32_t i = 0; i < aCount; ++i)
                for (uint32_t c = 0; c < 2; ++c) interleaved[2 * i + c] = Murmel::sdlSampleToS16(aPlanar[c * aStride + i]);
            mOk = mOk && std::fwrite(interleaved.data(), 2, interleaved.size(), mFile) == interleaved.size();
        }
        mFrames += aCount;
    }
    // Writes the header, closes and renames; false when anything failed.
    bool close() {
        const uint32_t sampleBytes = mFloat ? 4 : 2;
        const uint32_t dataBytes = mFrames * 2 * sampleBytes;
        std::vector<uint8_t> h;
        auto text = [&h](const char *t) { h.insert(h.end(), t, t + 4); };
        auto u16 = [&h](uint32_t v) { for (int i = 0; i < 2; ++i) h.push_back(static_cast<uint8_t>(v >> (8 * i))); };
        auto u32 = [&h](uint32_t v) { for (int i = 0; i < 4; ++i) h.push_back(static_cast<uint8_t>(v >> (8 * i))); };
        text("RIFF");
        u32(static_cast<uint32_t>(headerBytes()) - 8 + dataBytes);
        text("WAVE");
        text("fmt ");
        u32(mFloat ? 18 : 16);
        u16(mFloat ? 3 : 1); // IEEE float or PCM
        u16(2);
        u32(mRate);
        u32(mRate * 2 * sampleBytes);
        u16(2 * sampleBytes);
        u16(8 * sampleBytes);
        if (mFloat) {
            u16(0);    // no extension
            text("fact"); // a non-PCM format says its length in frames
            u32(4);
            u32(mFrames);
        }
        text("data");
        u32(dataBytes);
        const bool ok = mOk && std::fseek(mFile, 0, SEEK_SET) == 0 && std::fwrite(h.data(), 1, h.size(), mFile) == h.size();
        const bool closed = std::fclose(mFile) == 0;
        mFile = nullptr;
        std::error_code error;
        if (ok && closed) std::filesystem::rename(mTemporary, mPath, error);
        return ok && closed && !error;
    }
    uint32_t frames() const { return mFrames; }

private:
    size_t headerBytes() const { return mFloat ? 58 : 44; }

    std::filesystem::path mPath, mTemporary;
    FILE *mFile = nullptr;
    uint32_t mRate = 44100;
    bool mFloat = false;
    bool mOk = true;
    uint32_t mFrames = 0;
};
