// Where the demo finds assets/: the working directory first, then beside the
// executable, its parent, and the installed data folder.
#include "shell/lifetime.h"
#include "shell/shell.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// A scratch tree: work/ is the working directory, prefix/bin/ holds the
// "executable". Restores the working directory afterwards.
class AssetLookup : public ::testing::Test {
protected:
    void SetUp() override {
        saved = fs::current_path();
        char pattern[] = "/tmp/vrom_assets_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        fs::create_directories(root / "work");
        fs::create_directories(root / "prefix" / "bin");
        fs::current_path(root / "work");
        exeDir = (root / "prefix" / "bin").string();
    }
    void TearDown() override {
        fs::current_path(saved);
        fs::remove_all(root);
    }
    std::string found() { return findAssetDir(assetSearchPath(exeDir)); }
    // An assets folder of the demo's: it holds the marker file.
    static void makeAssets(const fs::path &dir) {
        fs::create_directories(dir);
        std::ofstream(dir / ASSET_MARKER) << "the demo's";
    }

    fs::path saved, root;
    std::string exeDir;
};

TEST_F(AssetLookup, SearchOrder) {
    const std::vector<std::string> places = assetSearchPath(exeDir);
    ASSERT_EQ(places.size(), 5u);
    EXPECT_EQ(places[0], "assets");
    EXPECT_EQ(places[1], exeDir + "/assets");
    EXPECT_EQ(places[2], (root / "prefix" / "assets").string());
    EXPECT_EQ(places[3], (root / "prefix" / "share" / "vrom2022" / "assets").string());
    EXPECT_TRUE(places[4].ends_with("/share/vrom2022/assets")) << places[4];

    // With no executable folder only the working directory and the data folder.
    const std::vector<std::string> bare = assetSearchPath("");
    ASSERT_EQ(bare.size(), 2u);
    EXPECT_EQ(bare[0], "assets");
    EXPECT_EQ(bare[1], places[4]);
}

// Each nearer place wins over every farther one, as it appears.
TEST_F(AssetLookup, NearestPlaceWins) {
    const std::string dataDir = assetSearchPath(exeDir).back();
    if (fs::exists(dataDir)) GTEST_SKIP() << "an installed copy is present: " << dataDir;
    EXPECT_EQ(found(), "");

    makeAssets(root / "prefix" / "share" / "vrom2022" / "assets");
    EXPECT_EQ(found(), (root / "prefix" / "share" / "vrom2022" / "assets").string());

    makeAssets(root / "prefix" / "assets"); // the executable's parent
    EXPECT_EQ(found(), (root / "prefix" / "assets").string());

    makeAssets(root / "prefix" / "bin" / "assets"); // beside the executable
    EXPECT_EQ(found(), exeDir + "/assets");

    makeAssets(root / "work" / "assets"); // the working directory
    EXPECT_EQ(found(), "assets");
}

TEST_F(AssetLookup, AFileNamedAssetsIsNotAFolder) {
    std::ofstream(root / "work" / "assets") << "not a folder";
    makeAssets(root / "prefix" / "bin" / "assets");
    EXPECT_EQ(found(), exeDir + "/assets");
}

// An "assets" folder that is not the demo's (empty, a web project's, or one
// whose marker is a folder) is passed over and the search goes on.
TEST_F(AssetLookup, AnotherProjectsAssetsFolderIsPassedOver) {
    makeAssets(root / "prefix" / "share" / "vrom2022" / "assets");
    const std::string installed = (root / "prefix" / "share" / "vrom2022" / "assets").string();
    fs::create_directories(root / "work" / "assets");
    EXPECT_EQ(found(), installed) << "an empty assets folder";
    std::ofstream(root / "work" / "assets" / "logo.png") << "a web project's";
    std::ofstream(root / "work" / "assets" / "knot.vs") << "even one with a file of the same name";
    EXPECT_EQ(found(), installed);
    fs::create_directories(root / "work" / "assets" / ASSET_MARKER);
    EXPECT_EQ(found(), installed) << "the marker must be a file";
}

// The repository's own assets folder carries the marker, so the demo started
// from the source tree still reads exactly "assets/NAME".
TEST(AssetMarker, TheShippedAssetsCarryIt) {
    EXPECT_TRUE(fs::is_regular_file(fs::path("assets") / ASSET_MARKER)) << "run from the repository root";
    EXPECT_EQ(findAssetDir({"assets"}), "assets");
}

// The audio part of start-up asks the device for 44100 Hz and 2048-frame
// buffers (SDL's dummy driver grants what it is asked).
TEST(StartAudio, AsksFor44100HzAnd2048FrameBuffers) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    startAudio();
    EXPECT_EQ(audioEngine.mBackendKind, 2u);
    EXPECT_EQ(audioEngine.mSampleRate, 44100u);
    EXPECT_EQ(audioEngine.mBufferFrames, 2048u);
    audioEngine.shutdown();
}
} // namespace
