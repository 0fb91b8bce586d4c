// The capture pipeline: frames encoded on several threads and written in
// order, the same bytes whatever the number of jobs, PNG files that decode to
// the frames exactly, raw frames to a stream, and a failed write reported.
#include "capture_pipeline.h"
#include "png_encoder.h"

#include <gtest/gtest.h>
#include <stb/stb_image.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
constexpr int32_t W = 97, H = 31; // odd sizes: no row is a multiple of 4 bytes

// Frame k, bottom row first (as glReadPixels gives it): every pixel differs.
std::vector<uint8_t> frame(int64_t k) {
    std::vector<uint8_t> rgb(static_cast<size_t>(W) * H * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>((i * 7 + static_cast<size_t>(k) * 31) ^ (i >> 5));
    return rgb;
}

std::vector<uint8_t> bytesOf(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Capture : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("vrom_capture_test_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path capture(const char *name, uint32_t jobs, int64_t frames) {
        const fs::path out = dir / name;
        fs::create_directories(out);
        CapturePipeline pipeline(CaptureOutput::Png, out, nullptr, W, H, jobs);
        EXPECT_EQ(pipeline.capacity(), 2u * jobs + 2);
        for (int64_t k = 0; k < frames; ++k) EXPECT_TRUE(pipeline.submit(k, frame(k)));
        std::string error;
        EXPECT_TRUE(pipeline.finish(&error)) << error;
        EXPECT_EQ(pipeline.framesWritten(), frames);
        EXPECT_TRUE(pipeline.commit(&error)) << error;
        return out;
    }
    fs::path dir;
};

TEST_F(Capture, PngFramesDecodeToTheFramesTopRowFirst) {
    const fs::path out = capture("one", 1, 3);
    for (int64_t k = 0; k < 3; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%06lld.png", static_cast<long long>(k));
        int w = 0, h = 0, channels = 0;
        uint8_t *decoded = stbi_load((out / name).c_str(), &w, &h, &channels, 3);
        ASSERT_NE(decoded, nullptr) << name;
        ASSERT_EQ(w, W);
        ASSERT_EQ(h, H);
        const std::vector<uint8_t> expected = frame(k);
        for (int32_t y = 0; y < H; ++y) // file row y is read-back row H - 1 - y
            ASSERT_EQ(0, std::memcmp(decoded + y * W * 3, &expected[static_cast<size_t>(H - 1 - y) * W * 3], W * 3))
                << name << " row " << y;
        stbi_image_free(decoded);
    }
    for (const auto &entry : fs::directory_iterator(out))
        EXPECT_EQ(entry.path().extension(), ".png") << "no partial file is left: " << entry.path();
}

TEST_F(Capture, ManyJobsWriteTheSameFilesAsOne) {
    const fs::path one = capture("one", 1, 24), many = capture("many", 5, 24);
    for (int64_t k = 0; k < 24; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%06lld.png", static_cast<long long>(k));
        const std::vector<uint8_t> bytes = bytesOf(one / name);
        EXPECT_GT(bytes.size(), 100u) << name;
        EXPECT_EQ(bytes, bytesOf(many / name)) << name;
    }
}

// Until commit the frames carry their temporary names; a capture that is
// given up (no commit) takes them all away and leaves an earlier file alone.
TEST_F(Capture, AnUncommittedCaptureLeavesTheFolderAsItWas) {
    const fs::path out = dir / "earlier";
    fs::create_directories(out);
    { std::ofstream(out / "frame_000001.png") << "an earlier capture's frame"; }
    {
        CapturePipeline pipeline(CaptureOutput::Png, out, nullptr, W, H, 2);
        for (int64_t k = 0; k < 4; ++k) ASSERT_TRUE(pipeline.submit(k, frame(k)));
        ASSERT_TRUE(pipeline.finish());
        EXPECT_EQ(pipeline.framesWritten(), 4);
        EXPECT_TRUE(fs::exists(out / "frame_000003.png.partial"));
        EXPECT_FALSE(fs::exists(out / "frame_000003.png")) << "renamed only by commit";
    }
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(out)) names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"frame_000001.png"});
    const std::vector<uint8_t> kept = bytesOf(out / "frame_000001.png");
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "an earlier capture's frame");
}

// Frames in flight are bounded by memory as well as by the jobs: 8192 x 8192
// frames are 192 MiB each, so 1 GiB holds five of them, whatever --jobs says,
// and no more encoder threads than that are started.
TEST(CaptureMemory, FramesInFlightAreBoundedByMemory) {
    const fs::path nowhere = fs::temp_directory_path();
    CapturePipeline huge(CaptureOutput::Discard, nowhere, nullptr, 8192, 8192, 256);
    EXPECT_EQ(huge.capacity(), 5u);
    EXPECT_EQ(huge.encoderThreads(), 5u);
    CapturePipeline hd(CaptureOutput::Discard, nowhere, nullptr, 1920, 1080, 16);
    EXPECT_EQ(hd.capacity(), 34u) << "small frames: 2 * jobs + 2";
    EXPECT_EQ(hd.encoderThreads(), 16u);
    CapturePipeline bigger(CaptureOutput::Discard, nowhere, nullptr, 8192, 8192 * 8, 4);
    EXPECT_EQ(bigger.capacity(), 2u) << "never fewer than two";
    EXPECT_EQ(bigger.encoderThreads(), 2u);
    EXPECT_TRUE(huge.finish() && hd.finish() && bigger.finish());
}

TEST_F(Capture, RawFramesGoToTheStreamInOrder) {
    FILE *stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    {
        CapturePipeline pipeline(CaptureOutput::Raw, dir, stream, W, H, 4);
        for (int64_t k = 0; k < 20; ++k) ASSERT_TRUE(pipeline.submit(k, frame(k)));
        ASSERT_TRUE(pipeline.finish());
    }
    std::fflush(stream);
    std::rewind(stream);
    std::vector<uint8_t> got(static_cast<size_t>(W) * H * 3);
    for (int64_t k = 0; k < 20; ++k) {
        ASSERT_EQ(std::fread(got.data(), 1, got.size(), stream), got.size()) << k;
        const std::vector<uint8_t> expected = frame(k);
        for (int32_t y = 0; y < H; ++y)
            ASSERT_EQ(0, std::memcmp(&got[static_cast<size_t>(y) * W * 3], &expected[static_cast<size_t>(H - 1 - y) * W * 3], W * 3))
                << "frame " << k << " row " << y;
    }
    EXPECT_EQ(std::fgetc(stream), EOF);
    std::fclose(stream);
}

TEST_F(Capture, AFailedWriteIsReportedWithTheFileAndStopsTheCapture) {
    CapturePipeline pipeline(CaptureOutput::Png, dir / "no" / "such" / "folder", nullptr, W, H, 2);
    bool refused = false;
    for (int64_t k = 0; k < 100 && !refused; ++k) refused = !pipeline.submit(k, frame(k));
    std::string error;
    EXPECT_FALSE(pipeline.finish(&error));
    EXPECT_TRUE(refused) << "submit says no once writing has failed";
    EXPECT_NE(error.find("[frame_000000.png] write failed: No such file or directory"), std::string::npos) << error;
    EXPECT_EQ(pipeline.framesWritten(), 0);
}

TEST_F(Capture, ADryRunWritesNothing) {
    CapturePipeline pipeline(CaptureOutput::Discard, dir, nullptr, W, H, 2);
    for (int64_t k = 0; k < 10; ++k) ASSERT_TRUE(pipeline.submit(k, frame(k)));
    ASSERT_TRUE(pipeline.finish());
    EXPECT_EQ(pipeline.framesWritten(), 10);
    EXPECT_TRUE(fs::is_empty(dir));
}
} // namespace
