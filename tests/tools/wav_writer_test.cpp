// The tools' WAV writer: the plain 44-byte layout for ordinary files, room
// for 64-bit sizes when the caller says the sound may pass 4 GiB, an RF64
// file when it does (read back through libsndfile, which knows the format),
// a refusal rather than a wrapped header, and nothing left after a failure.
// The 4 GiB limit is lowered here so that the files stay small; the layout
// code is the same one a 4 GiB file takes (the end-to-end render test writes
// a real one).
#include "wav_writer.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {
constexpr uint32_t STRIDE = 16;

class Wav : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("vrom_wav_test_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    // Adds `blocks` blocks of 10 frames: left k / 1000, right -k / 1000 for frame k.
    static void addFrames(WavWriter &wav, int blocks) {
        float planar[2 * STRIDE] = {};
        for (int b = 0; b < blocks; ++b) {
            for (uint32_t i = 0; i < 10; ++i) {
                planar[i] = static_cast<float>(b * 10 + static_cast<int>(i)) / 1000.0f;
                planar[STRIDE + i] = -planar[i];
            }
            wav.add(planar, STRIDE, 10);
        }
    }
    static std::vector<uint8_t> bytesOf(const fs::path &path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::string tag(const std::vector<uint8_t> &bytes, size_t at) {
        return bytes.size() >= at + 4 ? std::string(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at) + 4) : "";
    }
    static uint64_t u32At(const std::vector<uint8_t> &b, size_t at) {
        return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint64_t>(b[at + 3]) << 24;
    }
    // libsndfile's view: the major format and the frames, and the float samples.
    static int readBack(const fs::path &path, sf_count_t *frames, std::vector<float> *samples) {
        SF_INFO info{};
        SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
        if (!file) return 0;
        *frames = info.frames;
        samples->assign(static_cast<size_t>(info.frames) * 2, 0.0f);
        sf_readf_float(file, samples->data(), info.frames);
        sf_close(file);
        return info.format & SF_FORMAT_TYPEMASK;
    }
    fs::path dir;
};

TEST_F(Wav, AnOrdinaryFileKeepsThePlainLayout) {
    WavWriter wav;
    ASSERT_TRUE(wav.open(dir / "a.wav", 44100, false, 50));
    addFrames(wav, 5);
    ASSERT_TRUE(wav.close());
    const std::vector<uint8_t> b = bytesOf(dir / "a.wav");
    ASSERT_EQ(b.size(), 44u + 50 * 4);
    EXPECT_EQ(tag(b, 0), "RIFF");
    EXPECT_EQ(u32At(b, 4), 36u + 200);
    EXPECT_EQ(tag(b, 12), "fmt ");
    EXPECT_EQ(tag(b, 36), "data");
    EXPECT_EQ(u32At(b, 40), 200u);
    EXPECT_FALSE(fs::exists(dir / "a.wav.partial"));
}

TEST_F(Wav, PastTheLimitItIsAnRf64FileThatReadsBack) {
    for (const bool isFloat : {false, true}) {
        const fs::path path = dir / (isFloat ? "f.wav" : "s.wav");
        WavWriter wav(300); // a "4 GiB" of 300 bytes
        ASSERT_TRUE(wav.open(path, 48000, isFloat, 100));
        addFrames(wav, 10);
        std::string why;
        ASSERT_TRUE(wav.close(&why)) << why;
        const std::vector<uint8_t> b = bytesOf(path);
        const size_t header = isFloat ? 58 + 36 : 44 + 36;
        ASSERT_EQ(b.size(), header + 100 * 2 * (isFloat ? 4 : 2));
        EXPECT_EQ(tag(b, 0), "RF64");
        EXPECT_EQ(u32At(b, 4), 0xFFFFFFFFu) << "the 32-bit sizes say: see ds64";
        EXPECT_EQ(tag(b, 12), "ds64");
        EXPECT_EQ(u32At(b, 16), 28u);
        EXPECT_EQ(u32At(b, 20), b.size() - 8) << "the RIFF size, 64-bit";
        EXPECT_EQ(u32At(b, 28), b.size() - header) << "the data size, 64-bit";
        EXPECT_EQ(u32At(b, 36), 100u) << "the frames";
        EXPECT_EQ(tag(b, header - 8), "data");
        EXPECT_EQ(u32At(b, header - 4), 0xFFFFFFFFu);
        sf_count_t frames = 0;
        std::vector<float> samples;
        EXPECT_EQ(readBack(path, &frames, &samples), SF_FORMAT_RF64) << (isFloat ? "float" : "16-bit");
        ASSERT_EQ(frames, 100);
        const float step = isFloat ? 1e-7f : 1.0f / 16384;
        EXPECT_NEAR(samples[2 * 99], 0.099f, step);
        EXPECT_NEAR(samples[2 * 99 + 1], -0.099f, step);
    }
}

TEST_F(Wav, RoomForRf64ThatIsNotNeededStillMakesAPlainWav) {
    WavWriter wav(300);
    ASSERT_TRUE(wav.open(dir / "j.wav", 44100, true, 1000)); // it might have passed the limit
    addFrames(wav, 2);
    ASSERT_TRUE(wav.close());
    const std::vector<uint8_t> b = bytesOf(dir / "j.wav");
    EXPECT_EQ(tag(b, 0), "RIFF");
    EXPECT_EQ(tag(b, 12), "JUNK");
    sf_count_t frames = 0;
    std::vector<float> samples;
    EXPECT_EQ(readBack(dir / "j.wav", &frames, &samples), SF_FORMAT_WAV);
    EXPECT_EQ(frames, 20);
    EXPECT_EQ(samples[2 * 19], 0.019f);
}

TEST_F(Wav, WithoutRoomItRefusesRatherThanWrapTheSizes) {
    WavWriter wav(300);
    ASSERT_TRUE(wav.open(dir / "w.wav", 44100, false, 10)); // the caller said 10 frames
    addFrames(wav, 10);
    std::string why;
    EXPECT_FALSE(wav.close(&why));
    EXPECT_NE(why.find("more than 4 GiB"), std::string::npos) << why;
    EXPECT_TRUE(fs::is_empty(dir)) << "neither the file nor its partial one";
}

TEST_F(Wav, NothingIsLeftUnlessCommitted) {
    {
        WavWriter wav;
        ASSERT_TRUE(wav.open(dir / "x.wav", 44100, false, 10));
        addFrames(wav, 1);
        EXPECT_TRUE(fs::exists(dir / "x.wav.partial"));
    } // destroyed while open
    EXPECT_TRUE(fs::is_empty(dir));
    {
        WavWriter wav;
        ASSERT_TRUE(wav.open(dir / "y.wav", 44100, false, 10));
        addFrames(wav, 1);
        ASSERT_TRUE(wav.finish());
        EXPECT_EQ(wav.partialPath(), dir / "y.wav.partial");
        EXPECT_EQ(bytesOf(wav.partialPath()).size(), 44u + 40) << "finished: complete under its temporary name";
    } // finished, never committed
    EXPECT_TRUE(fs::is_empty(dir));
    WavWriter wav;
    ASSERT_TRUE(wav.open(dir / "z.wav", 44100, false, 10));
    ASSERT_TRUE(wav.finish());
    ASSERT_TRUE(wav.commit());
    EXPECT_TRUE(fs::exists(dir / "z.wav"));
    EXPECT_FALSE(fs::exists(dir / "z.wav.partial"));
}

TEST_F(Wav, AFullDiskIsAFailureAndLeavesNothing) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    fs::create_symlink("/dev/full", dir / "full.wav.partial");
    WavWriter wav;
    ASSERT_TRUE(wav.open(dir / "full.wav", 44100, false, 10)); // opening /dev/full works; writing does not
    addFrames(wav, 1);
    std::string why;
    EXPECT_FALSE(wav.close(&why));
    EXPECT_EQ(why, std::strerror(ENOSPC));
    EXPECT_FALSE(fs::exists(dir / "full.wav"));
}
} // namespace
