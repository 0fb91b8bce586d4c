// Streamed sound files: the probe, the four formats, streaming, looping.
#include "audio/murmel.h"
#include "test_source.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#define STB_VORBIS_HEADER_ONLY
#include <stb/stb_vorbis.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
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
    EXPECT_EQ(s.loadMemory(nullptr, 0), BadArgument);
    // A big-endian WAV starts "RIFX", no tag of ours, so it is tried as MP3:
    // libsndfile finds a WAV container there, which is not what was promised.
    EXPECT_EQ(s.loadFile(write("big.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16 | SF_ENDIAN_BIG, 1, 44100, 1000).c_str()),
              FileUnreadable);
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

// A WAV of 16-bit or float samples in memory is read straight from its data
// chunk, not through libsndfile: the samples, the end, the loops and what
// the mixer makes of them are those of the same file read from disk through
// libsndfile. Other sample formats keep libsndfile's path.
TEST_F(Streams, WavImagesReadStraightFromMemoryAsLibsndfileReadsThem) {
    const struct {
        const char *name;
        int format, channels;
        bool direct;
    } cases[] = {
        {"f32_stereo.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, true},
        {"f32_mono.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, true},
        {"s16_stereo.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, true},
        {"s16_three.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3, true},
        {"f32_ext.wav", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 2, true},
        {"s16_ext.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 2, true},
        {"s24_stereo.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, false},
        {"f64_stereo.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 2, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = write(c.name, c.format, c.channels, 44100, 5003, true);
        ASSERT_FALSE(path.empty());
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        WavStream disk, memory;
        ASSERT_EQ(disk.loadFile(path.c_str()), ResultOk);
        ASSERT_EQ(memory.loadMemory(bytes.data(), static_cast<uint32_t>(bytes.size())), ResultOk);
        {
            std::unique_ptr<AudioSourceInstance> instance(memory.makeInstance());
            EXPECT_EQ(static_cast<WavStreamInstance *>(instance.get())->mDirect.data != nullptr, c.direct);
        }
        EXPECT_EQ(readAll(memory), readAll(disk));

        // Looping through the mixer at 48000 Hz, with its seeks and restarts.
        Engine a, b;
        a.finishBackendSetup(48000, 2048, 1, 2);
        b.finishBackendSetup(48000, 2048, 1, 2);
        disk.mSourceFlags |= FLAG_LOOPING;
        memory.mSourceFlags |= FLAG_LOOPING;
        a.play(disk, 0.8f, 0.3f);
        b.play(memory, 0.8f, 0.3f);
        for (int block = 0; block < 12; ++block) {
            a.mixBlock(2048, 2048);
            b.mixBlock(2048, 2048);
            ASSERT_EQ(0, std::memcmp(a.mMixScratch.data, b.mMixScratch.data, 2 * 2048 * sizeof(float))) << "block " << block;
        }
    }
}

// A data chunk that claims more than the image holds, and chunks before it:
// read to where the bytes end, as libsndfile does.
TEST_F(Streams, AWavImageWithAShortDataChunkEndsWhereItsBytesEnd) {
    const std::string path = write("short.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 3000, true);
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t data = bytes.find("data");
    ASSERT_NE(data, std::string::npos);
    bytes.insert(data, std::string("junk\x06\0\0\0abcdef", 14)); // an unknown chunk before the samples
    bytes.resize(bytes.size() - 1001); // the last frames gone, and half of one
    const std::string cut = writeBytes("short_cut.wav", bytes);
    WavStream disk, memory;
    ASSERT_EQ(disk.loadFile(cut.c_str()), ResultOk);
    ASSERT_EQ(memory.loadMemory(reinterpret_cast<const uint8_t *>(bytes.data()), static_cast<uint32_t>(bytes.size())), ResultOk);
    std::unique_ptr<AudioSourceInstance> instance(memory.makeInstance());
    EXPECT_NE(static_cast<WavStreamInstance *>(instance.get())->mDirect.data, nullptr);
    const auto fromDisk = readAll(disk);
    EXPECT_EQ(fromDisk[0].size(), 3000u - 251u);
    EXPECT_EQ(readAll(memory), fromDisk);
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

// A seek lands on its frame in every format, and WAV and FLAC get there by
// seeking, not by decoding the file up to it: a loop that restarts late in a
// long file must not cost the audio thread the whole file at each restart.
// (MP3 and Vorbis look through the stream's pages or frame headers to find a
// position, so their bytes read are not counted.)
TEST_F(Streams, ASeekLandsOnItsFrameWithoutReadingUpToIt) {
    const struct {
        const char *name;
        int format;
        bool fromMemory, readsLittle;
    } cases[] = {
        {"seek24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, false, true},
        {"seek16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, true, true}, // read straight from the image
        {"seek.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, false, true},
        {"seek.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, false, false},
        {"seek.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = write(c.name, c.format, 2, 44100, 44100 * 12, true);
        ASSERT_FALSE(path.empty());
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        WavStream stream;
        CountingFile file;
        if (c.fromMemory) {
            ASSERT_EQ(stream.loadMemory(bytes.data(), static_cast<uint32_t>(bytes.size())), ResultOk);
        } else {
            ASSERT_EQ(file.open(path.c_str()), ResultOk);
            ASSERT_EQ(stream.loadCallerFile(&file), ResultOk);
        }
        const auto whole = readAll(stream);
        std::unique_ptr<AudioSourceInstance> instance(stream.makeInstance());
        instance->initFromSource(stream, 0);
        float scratch[512 * 2], block[512 * 2];
        file.bytesRead = 0;
        for (const double seconds : {10.5, 2.25, 11.0}) { // forwards, back, forwards again
            ASSERT_EQ(instance->seekTo(seconds, scratch, 512), ResultOk);
            ASSERT_EQ(instance->readFrames(block, 512, 512), 512u);
            const auto first = static_cast<size_t>(44100 * seconds);
            for (uint32_t k = 0; k < 2; ++k) {
                for (uint32_t i = 0; i < 512; ++i)
                    ASSERT_EQ(block[k * 512 + i], whole[k][first + i]) << seconds << " s, frame " << i;
            }
        }
        if (c.readsLittle) {
            EXPECT_LT(file.bytesRead, bytes.size() / 8);
        }
        // Past the end: on the end, with nothing more to read.
        ASSERT_EQ(instance->seekTo(60.0, scratch, 512), ResultOk);
        EXPECT_EQ(instance->readFrames(block, 512, 512), 0u);
        EXPECT_TRUE(instance->isFinished());
    }
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

// More than 8 channels: the first 8 play, each with its own samples.
// libsndfile finding another container than the tag promises is refused.
TEST_F(Streams, TenChannelsPlayTheirFirstEightAndForeignContainersAreRefused) {
    WavStream s;
    ASSERT_EQ(s.loadFile(write("ten.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 10, 44100, 3000).c_str()), ResultOk);
    EXPECT_EQ(s.mChannelCount, 8u);
    const auto frames = readAll(s);
    ASSERT_EQ(frames.size(), 8u);
    for (uint32_t k = 0; k < 8; ++k) {
        ASSERT_EQ(frames[k].size(), 3000u);
        for (uint32_t i = 0; i < 3000; i += 37) ASSERT_EQ(frames[k][i], tone(i, k)) << "channel " << k << " frame " << i;
    }
    // An AIFF file has no tag of ours, so it is tried as MP3, and libsndfile
    // reading it as AIFF is not MP3.
    EXPECT_EQ(s.loadFile(write("a.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, 44100, 1000).c_str()), FileUnreadable);
    EXPECT_EQ(s.loadFile(write("a.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, 1, 44100, 1000).c_str()), FileUnreadable);
}

// A header that claims an absurd rate: 50 MHz is taken and plays silent
// (a step of over one block per output frame), the mix returns and the voice
// can still be stopped; 4 294 967 295 Hz is no rate libsndfile accepts.
TEST_F(Streams, AbsurdHeaderRatesAreSilentOrRefusedAndNeverHang) {
    const std::string path = write("rate.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 4000);
    std::vector<uint8_t> bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_GT(bytes.size(), 44u);
    auto withRate = [&](uint32_t rate) {
        std::vector<uint8_t> patched = bytes;
        for (int i = 0; i < 4; ++i) patched[24 + i] = static_cast<uint8_t>(rate >> (8 * i)); // fmt: sample rate
        return patched;
    };
    WavStream s;
    const std::vector<uint8_t> fifty = withRate(50000000);
    ASSERT_EQ(s.loadMemory(fifty.data(), static_cast<uint32_t>(fifty.size())), ResultOk);
    EXPECT_EQ(s.mSourceRate, 50000000.0f);
    Engine engine;
    engine.finishBackendSetup(44100, 2048, 1, 2);
    const VoiceHandle h = engine.play(s, 1.0f);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(engine.mixBlock(2048, 2048), 2048u);
    for (uint32_t i = 0; i < 2 * 2048; ++i) ASSERT_EQ(engine.mMixScratch.data[i], 0.0f) << i;
    EXPECT_EQ(engine.setVolume(h, 0.5f), ResultOk);
    s.stopInstances();
    EXPECT_EQ(engine.voiceFromHandle(h), -1);

    const std::vector<uint8_t> most = withRate(4294967295u);
    EXPECT_EQ(s.loadMemory(most.data(), static_cast<uint32_t>(most.size())), FileUnreadable);
}

// ---- safety: reloads, replaced files, large headers ----

std::vector<uint8_t> fileBytes(const std::string &aPath) {
    std::ifstream in(aPath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Reads n frames of an instance in 512-frame blocks, channel 0 then 1.
std::vector<std::vector<float>> readSome(AudioSourceInstance &aInstance, uint32_t aFrames) {
    std::vector<std::vector<float>> channels(aInstance.mChannelCount);
    float block[512 * 8];
    for (uint32_t done = 0, n; done < aFrames && (n = aInstance.readFrames(block, 512, 512)) > 0; done += n)
        for (uint32_t k = 0; k < aInstance.mChannelCount; ++k)
            channels[k].insert(channels[k].end(), block + k * 512, block + k * 512 + n);
    return channels;
}

// A running instance keeps what it was made with: its format, its length,
// its share of a memory image, and its caller file, which it never deletes.
TEST_F(Streams, ReloadingAStreamNeverTouchesItsRunningInstances) {
    const std::string wav = write("reload.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, 3000);
    const std::string ogg = write("reload.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 22050, 9000);

    // A WAV instance outlives a reload of its stream as Ogg: it reads on as a
    // WAV, ends at the WAV's length, and closes its decoder as one.
    WavStream s;
    ASSERT_EQ(s.loadFile(wav.c_str()), ResultOk);
    std::unique_ptr<AudioSourceInstance> running(s.makeInstance());
    running->initFromSource(s, 0);
    ASSERT_EQ(s.loadFile(ogg.c_str()), ResultOk);
    auto frames = readSome(*running, 5000);
    ASSERT_EQ(frames[0].size(), 3000u);
    EXPECT_EQ(frames[1][2999], tone(2999, 1));
    EXPECT_TRUE(running->isFinished());
    running.reset();

    // A memory image freed by a reload stays alive for the instance that reads it.
    const std::vector<uint8_t> first = fileBytes(wav), second = fileBytes(ogg);
    ASSERT_EQ(s.loadMemory(first.data(), static_cast<uint32_t>(first.size())), ResultOk);
    running.reset(s.makeInstance());
    running->initFromSource(s, 0);
    ASSERT_EQ(s.loadMemory(second.data(), static_cast<uint32_t>(second.size())), ResultOk);
    frames = readSome(*running, 3000);
    ASSERT_EQ(frames[0].size(), 3000u);
    for (uint32_t i = 0; i < 3000; i += 97) ASSERT_EQ(frames[0][i], tone(i, 0)) << i;
    running.reset();

    // The caller's file is never deleted by an instance, even after the stream
    // forgot it.
    struct Watched : DiskFile {
        bool *deleted;
        explicit Watched(bool *aDeleted) : deleted(aDeleted) {}
        ~Watched() override { *deleted = true; }
    };
    bool deleted = false;
    auto *callerFile = new Watched(&deleted);
    ASSERT_EQ(callerFile->open(wav.c_str()), ResultOk);
    ASSERT_EQ(s.loadCallerFile(callerFile), ResultOk);
    running.reset(s.makeInstance());
    running->initFromSource(s, 0);
    ASSERT_EQ(s.loadFile(ogg.c_str()), ResultOk);
    running.reset();
    EXPECT_FALSE(deleted);
    delete callerFile;
}

// A file replaced on disk between load and play by one with fewer channels:
// the missing channels are silent, Vorbis and libsndfile alike.
TEST_F(Streams, AFileWithFewerChannelsThanLoadedGivesSilenceForTheRest) {
    for (const int format : {SF_FORMAT_OGG | SF_FORMAT_VORBIS, SF_FORMAT_WAV | SF_FORMAT_FLOAT}) {
        const bool vorbis = format & SF_FORMAT_OGG;
        const char *name = vorbis ? "swap.ogg" : "swap.wav";
        const std::string path = write(name, format, 2, 44100, 4000);
        WavStream s;
        ASSERT_EQ(s.loadFile(path.c_str()), ResultOk);
        ASSERT_EQ(s.mChannelCount, 2u);
        write(name, format, 1, 44100, 4000); // replaced, now mono
        std::unique_ptr<AudioSourceInstance> instance(s.makeInstance());
        instance->initFromSource(s, 0);
        const auto frames = readSome(*instance, 4000); // many blocks: packets left over between reads
        ASSERT_GE(frames[0].size(), 3000u) << name;
        for (size_t i = 0; i < frames[1].size(); ++i) ASSERT_EQ(frames[1][i], 0.0f) << name << " frame " << i;
        if (!vorbis) {
            for (uint32_t i = 0; i < 4000; i += 101) ASSERT_EQ(frames[0][i], tone(i, 0)) << i;
        }
    }
}

// Cover art makes comment headers of megabytes: such a file plays.
TEST_F(Streams, AnOggFileWithALargeCommentPacketPlays) {
    const std::string path = (dir / "cover.ogg").string();
    SF_INFO info{};
    info.channels = 1;
    info.samplerate = 44100;
    info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    const std::string art(3u << 20, 'c'); // 3 MiB
    ASSERT_EQ(sf_set_string(f, SF_STR_COMMENT, art.c_str()), 0);
    std::vector<float> data(20000);
    for (uint32_t i = 0; i < 20000; ++i) data[i] = tone(i, 0);
    sf_writef_float(f, data.data(), 20000);
    sf_close(f);

    WavStream s;
    ASSERT_EQ(s.loadFile(path.c_str()), ResultOk);
    EXPECT_EQ(s.mFrameCount, 20000u);
    const auto frames = readAll(s);
    const std::vector<float> whole = decodeVorbis(path)[0];
    ASSERT_EQ(frames[0].size(), 20000u);
    ASSERT_GE(whole.size(), 20000u);
    EXPECT_TRUE(std::equal(frames[0].begin(), frames[0].end(), whole.begin()));
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

namespace {
// The mixing thread reads its stream instances while the main thread reloads
// their streams (disk file, memory image, other format), stops them and plays
// them again. What the mixer produced must be sound, never NaN; this is also
// run under ThreadSanitizer by the test command, which reports any access to
// shared state outside the mixer lock.
TEST(Concurrency, ReloadingAndStoppingStreamsWhileTheyMix) {
    const fs::path dir = fs::temp_directory_path() / ("murmel_reload_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    auto writeTone = [&](const char *name, int format, int channels) {
        const std::string path = (dir / name).string();
        SF_INFO info{};
        info.channels = channels;
        info.samplerate = 44100;
        info.format = format;
        SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
        std::vector<float> data(8000 * static_cast<size_t>(channels));
        for (size_t i = 0; i < data.size(); ++i) data[i] = 0.4f * static_cast<float>(std::sin(0.05 * static_cast<double>(i)));
        sf_writef_float(f, data.data(), 8000);
        sf_close(f);
        return path;
    };
    const std::string ogg = writeTone("r.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2);
    const std::string wav = writeTone("r.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1);
    std::ifstream in(ogg, std::ios::binary);
    const std::vector<uint8_t> oggBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    Engine engine;
    engine.mMixerMutex = new platform::Mutex;
    engine.finishBackendSetup(44100, 512, 1, 2);
    WavStream stream;
    ASSERT_EQ(stream.loadFile(ogg.c_str()), ResultOk);
    stream.mSourceFlags |= FLAG_LOOPING;
    MixingThread mixer(engine);
    for (int i = 0; i < 60; ++i) {
        const VoiceHandle h = engine.play(stream, 0.5f);
        mixer.waitBlocks(2); // it mixes the new voice
        switch (i % 3) {
        case 0: ASSERT_EQ(stream.loadFile(wav.c_str()), ResultOk); break;
        case 1: ASSERT_EQ(stream.loadMemory(oggBytes.data(), static_cast<uint32_t>(oggBytes.size())), ResultOk); break;
        default: ASSERT_EQ(stream.loadFile(ogg.c_str()), ResultOk); break;
        }
        engine.setVolume(h, 0.25f);
        if (i % 4 == 3) stream.stopInstances();
    }
    mixer.waitBlocks(4);
    mixer.stop();
    engine.stopAllVoices();
    engine.shutdown();
    fs::remove_all(dir);
    EXPECT_EQ(mixer.badSamples.load(), 0); // never NaN, never past the clipper
    EXPECT_GT(mixer.audibleBlocks.load(), 60); // the voices it was handed were heard
}
} // namespace

namespace {
// A caller's file that takes 20 µs for every read, so that a reader that
// moves its position under another has time to do it.
struct SlowFile : MemoryFile {
    uint32_t read(uint8_t *aDestination, uint32_t aBytes) override {
        std::this_thread::sleep_for(std::chrono::microseconds(20));
        return MemoryFile::read(aDestination, aBytes);
    }
};

// Two voices of one stream loaded from the caller's file: while the mixing
// thread plays voice A, the main thread starts and stops a silent voice B of
// the same stream over and over (its decoder reads the header and seeks to
// the end for the length). A must sound exactly as it does alone. Also run
// under ThreadSanitizer by the test command.
TEST(Concurrency, VoicesOfOneCallerFileNeverDisturbEachOther) {
    const fs::path path = fs::temp_directory_path() / ("murmel_caller_" + std::to_string(::getpid()) + ".ogg");
    SF_INFO info{};
    info.channels = 2;
    info.samplerate = 44100;
    info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    std::vector<float> data(2 * 44100 * 3);
    for (size_t i = 0; i < data.size(); ++i) data[i] = 0.4f * static_cast<float>(std::sin(0.003 * static_cast<double>(i * (i % 7 + 1))));
    sf_writef_float(f, data.data(), 44100 * 3);
    sf_close(f);
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fs::remove(path);

    constexpr int BLOCKS = 100; // of 512 frames: 1.2 s of A
    int plays = 0;
    auto render = [&](bool aDisturbed) {
        SlowFile file;
        file.openCopy(bytes.data(), static_cast<uint32_t>(bytes.size()));
        WavStream stream;
        EXPECT_EQ(stream.loadCallerFile(&file), ResultOk);
        Engine engine;
        engine.mMixerMutex = new platform::Mutex;
        engine.finishBackendSetup(44100, 512, 1, 2);
        engine.play(stream, 1.0f);
        std::vector<float> heard;
        std::atomic<bool> done{false};
        std::thread mixer([&] {
            for (int b = 0; b < BLOCKS; ++b) {
                engine.mixBlock(512, 512);
                heard.insert(heard.end(), engine.mMixScratch.data, engine.mMixScratch.data + 1024);
                std::this_thread::sleep_for(std::chrono::milliseconds(3)); // paced, as a device would be
            }
            done = true;
        });
        while (aDisturbed && !done) {
            const VoiceHandle b = engine.play(stream, 0.0f);
            engine.lockMixer();
            const int32_t slot = engine.voiceFromHandle(b);
            if (slot >= 0) engine.releaseVoice(static_cast<uint32_t>(slot));
            engine.unlockMixer();
            ++plays;
        }
        mixer.join();
        engine.stopAllVoices();
        engine.shutdown();
        return heard;
    };
    const std::vector<float> alone = render(false), disturbed = render(true);
    ASSERT_EQ(alone.size(), disturbed.size());
    size_t differing = 0;
    for (size_t i = 0; i < alone.size(); ++i) differing += alone[i] != disturbed[i];
    EXPECT_EQ(differing, 0u) << "of " << alone.size() << " samples, while B was started " << plays << " times";
    EXPECT_GE(plays, 5) << "B must really have been started while A played";
    float peak = 0;
    for (float x : alone) peak = std::max(peak, std::fabs(x));
    EXPECT_GT(peak, 0.1f);
}
} // namespace
