// Streamed sound files: the probe, the four formats, streaming, looping.
#include "audio/murmel.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#define STB_VORBIS_HEADER_ONLY
#include <stb/stb_vorbis.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace Murmel;
namespace fs = std::filesystem;

namespace {
constexpr float CENTRE = 0.70710677f;

class Streams : public ::testing::Test {
protected:
    static inline fs::path dir;
    static void SetUpTestSuite() {
        dir = fs::temp_directory_path() / ("murmel_stream_test_" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    static void TearDownTestSuite() { fs::remove_all(dir); }

    // A tone that differs per channel: frame i of channel k.
    static float tone(uint32_t i, uint32_t k) {
        return 0.5f * static_cast<float>(std::sin(0.01 * (i + 1) * (k + 1)));
    }
    static std::string write(const char *name, int format, int channels, int rate, uint32_t frames,
                             bool noise = false) {
        const std::string path = (dir / name).string();
        SF_INFO info{};
        info.channels = channels;
        info.samplerate = rate;
        info.format = format;
        SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
        if (!f) return "";
        std::vector<float> data(static_cast<size_t>(frames) * static_cast<size_t>(channels));
        for (uint32_t i = 0; i < frames; ++i)
            for (int k = 0; k < channels; ++k)
                data[i * static_cast<uint32_t>(channels) + static_cast<uint32_t>(k)] =
                    noise ? 0.3f * static_cast<float>(std::sin(i * 12.9898 + k * 78.233) * 43758.5453 -
                                                       std::floor(std::sin(i * 12.9898 + k * 78.233) * 43758.5453) - 0.5)
                          : tone(i, static_cast<uint32_t>(k));
        sf_writef_float(f, data.data(), frames);
        sf_close(f);
        return path;
    }
    static std::string writeBytes(const char *name, const std::string &bytes) {
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // Every frame a stream delivers, read in 512-frame blocks as the mixer does.
    static std::vector<std::vector<float>> readAll(WavStream &stream) {
        std::unique_ptr<AudioSourceInstance> instance(stream.makeInstance());
        instance->initFromSource(stream, 0);
        std::vector<std::vector<float>> channels(stream.mChannelCount);
        float block[512 * 8];
        for (uint32_t n; (n = instance->readFrames(block, 512, 512)) > 0;)
            for (uint32_t k = 0; k < stream.mChannelCount; ++k)
                channels[k].insert(channels[k].end(), block + k * 512, block + k * 512 + n);
        EXPECT_TRUE(instance->isFinished());
        return channels;
    }
    // The file decoded whole by stb_vorbis, channel by channel.
    static std::vector<std::vector<float>> decodeVorbis(const std::string &path) {
        int error = 0;
        stb_vorbis *v = stb_vorbis_open_filename(path.c_str(), &error, nullptr);
        const stb_vorbis_info info = stb_vorbis_get_info(v);
        std::vector<std::vector<float>> out(static_cast<size_t>(info.channels));
        float **frame = nullptr;
        int channels = 0;
        for (int n; (n = stb_vorbis_get_frame_float(v, &channels, &frame)) > 0;)
            for (int k = 0; k < channels; ++k) out[static_cast<size_t>(k)].insert(out[static_cast<size_t>(k)].end(), frame[k], frame[k] + n);
        stb_vorbis_close(v);
        return out;
    }
};

TEST_F(Streams, ProbeResults) {
    WavStream s;
    EXPECT_EQ(s.loadFile(nullptr), BadArgument);
    EXPECT_EQ(s.loadFile((dir / "missing.ogg").c_str()), FileMissing);
    EXPECT_EQ(s.loadFile(writeBytes("damaged.ogg", std::string("OggS") + std::string(200, '\x7f')).c_str()), FileUnreadable);
    EXPECT_EQ(s.mPath, nullptr);
    EXPECT_EQ(s.mFrameCount, 0u);
    EXPECT_EQ(s.loadFile(writeBytes("garbage.bin", std::string(4000, 'x')).c_str()), FileUnreadable);
    EXPECT_EQ(s.loadFile(writeBytes("empty.wav", "").c_str()), FileUnreadable);
    EXPECT_EQ(s.loadFile(writeBytes("short.wav", "RI").c_str()), FileUnreadable);
    // A WAV behind an MP3's place (no known tag) is not taken as WAV.
    EXPECT_EQ(s.loadMemory(nullptr, 0), BadArgument);
}

TEST_F(Streams, FourFormatsLoadWithTheirShape) {
    struct Case {
        const char *name;
        int format;
        uint32_t expected, channels, rate;
    };
    const Case cases[] = {
        {"a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, FORMAT_WAV, 2, 44100},
        {"a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, FORMAT_FLAC, 1, 22050},
        {"a.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, FORMAT_OGG, 2, 44100},
        {"a.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, FORMAT_MP3, 2, 44100},
        {"six.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, FORMAT_WAV, 6, 48000},
    };
    for (const Case &c : cases) {
        const std::string path = write(c.name, c.format, static_cast<int>(c.channels), static_cast<int>(c.rate), 30000);
        ASSERT_FALSE(path.empty()) << c.name;
        WavStream s;
        ASSERT_EQ(s.loadFile(path.c_str()), ResultOk) << c.name;
        EXPECT_EQ(s.mFormat, c.expected) << c.name;
        EXPECT_EQ(s.mChannelCount, c.channels) << c.name;
        EXPECT_EQ(s.mSourceRate, static_cast<float>(c.rate)) << c.name;
        if (c.expected == FORMAT_MP3) {
            EXPECT_NEAR(s.mFrameCount, 30000.0, 2000.0) << c.name; // encoder padding
        } else {
            EXPECT_EQ(s.mFrameCount, 30000u) << c.name;
        }
        EXPECT_STREQ(s.mPath, path.c_str());
    }
}

TEST_F(Streams, StreamedFramesEqualTheFileDecodedWhole) {
    WavStream wav;
    ASSERT_EQ(wav.loadFile(write("whole.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, 5000).c_str()), ResultOk);
    const auto wavFrames = readAll(wav);
    ASSERT_EQ(wavFrames[0].size(), 5000u);
    for (uint32_t i = 0; i < 5000; ++i) {
        ASSERT_EQ(wavFrames[0][i], tone(i, 0)) << i;
        ASSERT_EQ(wavFrames[1][i], tone(i, 1)) << i;
    }
    const std::string ogg = write("whole.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 44100, 50000);
    WavStream vorbis;
    ASSERT_EQ(vorbis.loadFile(ogg.c_str()), ResultOk);
    const auto streamed = readAll(vorbis), whole = decodeVorbis(ogg);
    ASSERT_EQ(streamed[0].size(), vorbis.mFrameCount);
    ASSERT_GE(whole[0].size(), streamed[0].size());
    for (size_t i = 0; i < streamed[0].size(); ++i) {
        ASSERT_EQ(streamed[0][i], whole[0][i]) << i;
        ASSERT_EQ(streamed[1][i], whole[1][i]) << i;
    }
}

TEST_F(Streams, MemoryImagesPlayAsDiskFilesDo) {
    const std::string path = write("mem.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 44100, 20000);
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    WavStream disk, memory;
    ASSERT_EQ(disk.loadFile(path.c_str()), ResultOk);
    ASSERT_EQ(memory.loadMemory(bytes.data(), static_cast<uint32_t>(bytes.size())), ResultOk);
    EXPECT_EQ(memory.mFrameCount, disk.mFrameCount);
    EXPECT_EQ(readAll(memory), readAll(disk));
}

// Counts the bytes read through it.
struct CountingFile : DiskFile {
    uint64_t bytesRead = 0;
    uint32_t read(uint8_t *aDestination, uint32_t aBytes) override {
        const uint32_t n = DiskFile::read(aDestination, aBytes);
        bytesRead += n;
        return n;
    }
};

TEST_F(Streams, PlayingNeverReadsTheFileWhole) {
    const std::string path = write("long.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 44100, 44100 * 20, true);
    CountingFile file;
    ASSERT_EQ(file.open(path.c_str()), ResultOk);
    const uint32_t size = file.size();
    WavStream s;
    ASSERT_EQ(s.loadCallerFile(&file), ResultOk);
    Engine engine;
    engine.finishBackendSetup(44100, 2048, 1, 2);
    engine.play(s, 1.0f);
    file.bytesRead = 0;
    for (int i = 0; i < 10; ++i) engine.mixBlock(2048, 2048); // about 0.5 s of 20
    const uint64_t early = file.bytesRead;
    EXPECT_LT(early, size / 10);
    for (int i = 0; i < 100; ++i) engine.mixBlock(2048, 2048); // 5 s more
    EXPECT_GT(file.bytesRead, early + size / 10); // read as it plays
    EXPECT_LT(file.bytesRead, size / 2);
}

TEST_F(Streams, AMonoOggPlaysOnBothSides) {
    WavStream s;
    ASSERT_EQ(s.loadFile(write("mono.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 44100, 20000).c_str()), ResultOk);
    EXPECT_EQ(s.mChannelCount, 1u);
    Engine engine;
    engine.finishBackendSetup(44100, 2048, 1, 2);
    engine.play(s, 1.0f);
    engine.mixBlock(2048, 2048);
    const float *out = engine.mMixScratch.data;
    float energy = 0;
    for (uint32_t i = 0; i < 2048; ++i) {
        ASSERT_EQ(out[i], out[2048 + i]) << i;
        energy += out[i] * out[i];
    }
    EXPECT_GT(energy, 1.0f);
}

// Mixes a looping stream across its end, before the clipper.
std::vector<float> mixLeft(Engine &engine, uint32_t blocks) {
    std::vector<float> left;
    for (uint32_t b = 0; b < blocks; ++b) {
        engine.lockMixer();
        if (engine.mActiveDirty) engine.refreshActiveVoices();
        engine.mixMainBus(engine.mBusBuffer.data, 2048, 2048, engine.mMixScratch.data, 44100.0f, 2);
        engine.unlockMixer();
        left.insert(left.end(), engine.mBusBuffer.data, engine.mBusBuffer.data + 2048);
    }
    return left;
}

TEST_F(Streams, ALoopingVorbisStreamRestartsInTheSameBlockWithoutAGap) {
    const std::string path = write("loop.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 44100, 10000);
    WavStream s;
    ASSERT_EQ(s.loadFile(path.c_str()), ResultOk);
    s.mSourceFlags |= FLAG_LOOPING;
    Engine engine;
    engine.finishBackendSetup(44100, 2048, 1, 2);
    engine.play(s, 1.0f);
    const std::vector<float> left = mixLeft(engine, 12); // 24576 frames: two loops
    const std::vector<float> whole = decodeVorbis(path)[0];
    const uint32_t length = s.mFrameCount;
    for (uint32_t i = 1; i < left.size(); ++i)
        ASSERT_EQ(left[i], whole[(i - 1) % length] * CENTRE) << "frame " << i;
    EXPECT_EQ(engine.mVoices[0]->mLoopsDone, 2u);
}

TEST_F(Streams, TheDemosMusicLoopsSeamlessly) {
    for (const char *name : {"assets/vrom2022_melo.ogg", "assets/vrom2022_space.ogg"}) {
        WavStream s;
        ASSERT_EQ(s.loadFile(name), ResultOk) << name;
        EXPECT_EQ(s.mChannelCount, 2u);
        EXPECT_EQ(s.mSourceRate, 44100.0f);
        EXPECT_GE(s.mFrameCount, 44100u * 90);
        EXPECT_LE(s.mFrameCount, 44100u * 180);
        // Seek near the end, then mix through the loop point.
        s.mSourceFlags |= FLAG_LOOPING;
        Engine engine;
        engine.finishBackendSetup(44100, 2048, 1, 2);
        engine.play(s, 1.0f);
        AudioSourceInstance *voice = engine.mVoices[0];
        const uint32_t start = s.mFrameCount - 3000;
        engine.lockMixer();
        ASSERT_EQ(voice->seekTo(start / 44100.0, engine.mMixScratch.data, engine.mScratchFrames), ResultOk);
        engine.unlockMixer();
        const std::vector<float> left = mixLeft(engine, 3);
        const std::vector<float> whole = decodeVorbis(name)[0];
        const uint32_t first = static_cast<uint32_t>(std::floor(44100.0f * (start / 44100.0)));
        for (uint32_t i = 1; i < left.size(); ++i)
            ASSERT_EQ(left[i], whole[(first + i - 1) % s.mFrameCount] * CENTRE) << name << " frame " << i;
        // No jump at the seam bigger than the music's own steps.
        float biggest = 0, seam = std::fabs(whole[0] - whole[s.mFrameCount - 1]);
        for (uint32_t i = 1; i < s.mFrameCount; ++i) biggest = std::max(biggest, std::fabs(whole[i] - whole[i - 1]));
        EXPECT_LT(seam, biggest * 0.5f) << name;
        EXPECT_EQ(voice->mLoopsDone, 1u);
    }
}
} // namespace
