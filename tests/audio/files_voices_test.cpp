// Files at their edges, and the voice flags and source rules the demo does
// not use but the engine offers: single instances, stopping a source's
// voices, paused, inaudible and no-auto-stop voices.
#include "audio/murmel.h"
#include "test_source.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>

using namespace Murmel;

namespace {
TEST(Files, MemoryFileSeeksAndReadsStayInsideTheImage) {
    const uint8_t bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    MemoryFile f;
    f.attach(bytes, 10);
    uint8_t out[16] = {};
    EXPECT_EQ(f.read(out, 4), 4u);
    EXPECT_EQ(f.tell(), 4u);
    EXPECT_EQ(f.seek(-3), 7); // from the end
    EXPECT_EQ(f.read(out, 16), 3u);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(out[2], 9);
    EXPECT_TRUE(f.atEnd());
    EXPECT_EQ(f.read(out, 16), 0u);
    EXPECT_EQ(f.seek(100), 9); // at most the last byte
    EXPECT_EQ(f.seek(-100), 0);
    EXPECT_EQ(f.seek(10), 9);
    EXPECT_FALSE(f.atEnd());

    MemoryFile empty;
    EXPECT_EQ(empty.seek(5), 0);
    EXPECT_EQ(empty.read(out, 4), 0u);
    EXPECT_TRUE(empty.atEnd());
    EXPECT_EQ(empty.openCopy(nullptr, 4), BadArgument);
    empty.attach(bytes, 0); // ignored
    EXPECT_EQ(empty.size(), 0u);

    MemoryFile copy;
    ASSERT_EQ(copy.openCopy(bytes, 10), ResultOk);
    EXPECT_NE(copy.memoryBytes(), bytes);
    copy.seek(5);
    copy.read(out, 1);
    EXPECT_EQ(out[0], 5);
}

TEST(Files, DiskFileSizeKeepsTheReadPosition) {
    const std::string path = std::filesystem::temp_directory_path() / ("murmel_file_" + std::to_string(::getpid()));
    {
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < 100; ++i) out.put(static_cast<char>(i));
    }
    DiskFile f;
    ASSERT_EQ(f.open(path.c_str()), ResultOk);
    uint8_t buffer[40];
    EXPECT_EQ(f.read(buffer, 30), 30u);
    EXPECT_EQ(f.size(), 100u);
    EXPECT_EQ(f.tell(), 30u);
    EXPECT_EQ(f.read(buffer, 1), 1u);
    EXPECT_EQ(buffer[0], 30);
    std::remove(path.c_str());

    DiskFile missing;
    EXPECT_EQ(missing.open((path + ".none").c_str()), FileMissing);
    EXPECT_EQ(missing.open(nullptr), BadArgument);
    EXPECT_EQ(missing.size(), 0u);
    EXPECT_EQ(missing.read(buffer, 4), 0u);
    EXPECT_EQ(missing.atEnd(), 1);
}

TEST(Sources, SingleInstanceSourcesAndStoppingASourcesVoices) {
    auto e = offlineEngine();
    TestSource single, other;
    single.mSourceFlags = FLAG_SINGLE_INSTANCE;
    const VoiceHandle first = e->play(single, 1.0f);
    const VoiceHandle kept = e->play(other, 1.0f);
    const VoiceHandle second = e->play(single, 1.0f); // stops the first
    EXPECT_EQ(e->voiceFromHandle(first), -1);
    EXPECT_NE(e->voiceFromHandle(second), -1);
    const VoiceHandle third = e->play(other, 1.0f);
    other.stopInstances(); // both of other's voices, none of single's
    EXPECT_EQ(e->voiceFromHandle(kept), -1);
    EXPECT_EQ(e->voiceFromHandle(third), -1);
    EXPECT_NE(e->voiceFromHandle(second), -1);
}

// Sum of the left channel of one mixed block, before the clipper.
float mixedSum(Engine &e) {
    e.lockMixer();
    if (e.mActiveDirty) e.refreshActiveVoices();
    e.mixMainBus(e.mBusBuffer.data, 512, 512, e.mMixScratch.data, 44100.0f, 2);
    e.unlockMixer();
    float sum = 0;
    for (uint32_t i = 0; i < 512; ++i) sum += e.mBusBuffer.data[i];
    return sum;
}

TEST(Voices, PausedAndInaudibleVoicesAreNotMixedAndOnlyPausedOnesStandStill) {
    auto e = offlineEngine();
    TestSource source;
    source.value = [](uint32_t, uint32_t) { return 1.0f; };
    e->play(source, 1.0f);
    e->mVoices[0]->mVoiceFlags |= FLAG_PAUSED;
    e->mActiveDirty = true;
    e->mixBlock(512, 512);
    EXPECT_EQ(e->mVoices[0]->mPlayTime, 0.0);
    EXPECT_EQ(mixedSum(*e), 0.0f);
    e->mVoices[0]->mVoiceFlags &= ~FLAG_PAUSED;
    e->mVoices[0]->mVoiceFlags |= FLAG_INAUDIBLE;
    e->mActiveDirty = true;
    e->mixBlock(512, 512);
    EXPECT_GT(e->mVoices[0]->mPlayTime, 0.0); // its time runs on
    EXPECT_EQ(mixedSum(*e), 0.0f);
    e->mVoices[0]->mVoiceFlags &= ~FLAG_INAUDIBLE;
    e->mActiveDirty = true; // as every change of a voice's flags does
    EXPECT_GT(mixedSum(*e), 300.0f); // 512 frames of 1.0 at the centre gain
}

TEST(Voices, AVoiceStartedPausedIsNeverMixedUntilResumed) {
    auto e = offlineEngine();
    TestSource source;
    source.value = [](uint32_t, uint32_t) { return 1.0f; };
    source.mSourceFlags |= FLAG_LOOPING; // a looping source keeps FLAG_PAUSED apart from its own flags
    const VoiceHandle voice = e->play(source, 1.0f, 0.0f, true);
    ASSERT_NE(e->voiceFromHandle(voice), -1);
    EXPECT_TRUE(e->mVoices[0]->mVoiceFlags & FLAG_PAUSED);
    EXPECT_TRUE(e->mVoices[0]->mVoiceFlags & FLAG_LOOPING);
    e->mixBlock(512, 512); // the device's first block after play
    EXPECT_EQ(e->mVoices[0]->mPlayTime, 0.0) << "not one block mixed before the resume";
    EXPECT_EQ(mixedSum(*e), 0.0f);
    e->setPause(voice, false);
    e->mixBlock(512, 512);
    EXPECT_GT(e->mVoices[0]->mPlayTime, 0.0);
}

TEST(Voices, AnEndedVoiceIsReleasedUnlessItMayNotAutoStop) {
    auto e = offlineEngine();
    TestSource plain, kept;
    plain.frames = kept.frames = 100;
    kept.mSourceFlags = FLAG_NO_AUTO_STOP; // copied to its voices
    const VoiceHandle p = e->play(plain, 1.0f);
    const VoiceHandle k = e->play(kept, 1.0f);
    e->mixBlock(2048, 2048);
    EXPECT_EQ(e->voiceFromHandle(p), -1);
    ASSERT_NE(e->voiceFromHandle(k), -1);
    e->mixBlock(2048, 2048); // ended, silent, and still there
    EXPECT_NE(e->voiceFromHandle(k), -1);
}
} // namespace
