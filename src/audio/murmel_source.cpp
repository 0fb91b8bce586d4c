// murmel_source.cpp - files, and the base of sources and instances.
#include "audio/murmel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Murmel {

// ---- DiskFile ------------------------------------------------------------------------------

DiskFile::~DiskFile() {
    if (mFileHandle) std::fclose(mFileHandle);
}

Result DiskFile::open(const char *aPath) {
    if (!aPath) return BadArgument;
    if (mFileHandle) std::fclose(mFileHandle);
    mFileHandle = std::fopen(aPath, "rb");
    return mFileHandle ? ResultOk : FileMissing;
}

int DiskFile::atEnd() { return mFileHandle ? std::feof(mFileHandle) : 1; }

uint32_t DiskFile::read(uint8_t *aDestination, uint32_t aBytes) {
    return mFileHandle ? static_cast<uint32_t>(std::fread(aDestination, 1, aBytes, mFileHandle)) : 0;
}

uint32_t DiskFile::size() {
    if (!mFileHandle) return 0;
    const long position = std::ftell(mFileHandle);
    std::fseek(mFileHandle, 0, SEEK_END);
    const long end = std::ftell(mFileHandle);
    std::fseek(mFileHandle, position, SEEK_SET);
    return end > 0 ? static_cast<uint32_t>(end) : 0;
}

int32_t DiskFile::seek(int32_t aPosition) {
    return mFileHandle ? std::fseek(mFileHandle, aPosition, SEEK_SET) : -1;
}

uint32_t DiskFile::tell() {
    const long position = mFileHandle ? std::ftell(mFileHandle) : 0;
    return position > 0 ? static_cast<uint32_t>(position) : 0;
}

// ---- MemoryFile ---------------------------------------------------------------------------------

MemoryFile::~MemoryFile() {
    if (mOwnsData) delete[] mData;
}

void MemoryFile::attach(const uint8_t *aData, uint32_t aLength) {
    if (!aData || !aLength) return;
    if (mOwnsData) delete[] mData;
    mData = aData;
    mLength = aLength;
    mOffset = 0;
    mOwnsData = false;
}

Result MemoryFile::openCopy(const uint8_t *aData, uint32_t aLength) {
    if (!aData || !aLength) return BadArgument;
    auto *copy = new uint8_t[aLength];
    std::memcpy(copy, aData, aLength);
    attach(copy, aLength);
    mOwnsData = true;
    return ResultOk;
}

int MemoryFile::atEnd() { return mOffset >= mLength; }

uint32_t MemoryFile::read(uint8_t *aDestination, uint32_t aBytes) {
    const uint32_t remaining = mOffset < mLength ? mLength - mOffset : 0;
    aBytes = std::min(aBytes, remaining);
    if (aBytes) std::memcpy(aDestination, mData + mOffset, aBytes);
    mOffset += aBytes;
    return aBytes;
}

int32_t MemoryFile::seek(int32_t aPosition) {
    // Negative positions count from the end. The offset stays inside the
    // image: at most the last byte, and 0 for an empty one.
    int64_t p = aPosition < 0 ? static_cast<int64_t>(aPosition) + mLength : aPosition;
    if (p < 0) p = 0;
    if (mLength == 0) p = 0;
    else if (p > static_cast<int64_t>(mLength) - 1) p = mLength - 1;
    mOffset = static_cast<uint32_t>(p);
    return static_cast<int32_t>(mOffset);
}

// ---- sources and instances -------------------------------------------------------------------------

void AudioSource::attachFilter(uint32_t aIndex, void *aFilter) {
    if (aIndex < 8) mFilter[aIndex] = aFilter;
}

AudioSource::~AudioSource() { stopInstances(); }

AudioSourceInstance::~AudioSourceInstance() = default; // no filter kinds exist

void AudioSourceInstance::initFromSource(const AudioSource &aSource, uint32_t aPlaySerial) {
    mPlaySerial = aPlaySerial;
    mSourceRate = mPlayRate = aSource.mSourceRate;
    mChannelCount = aSource.mChannelCount;
    mPlayTime = 0.0;
    mStreamSeconds = 0.0;
    mLoopStart = aSource.mLoopStart;
    mVoiceFlags = (mVoiceFlags & ~(FLAG_LOOPING | SOURCE_FLAGS_COPIED)) |
                  (aSource.mSourceFlags & (FLAG_LOOPING | SOURCE_FLAGS_COPIED));
}

Result AudioSourceInstance::seekTo(double aSeconds, float *aScratch, uint32_t aScratchFrames) {
    double offset = aSeconds - mStreamSeconds;
    if (offset <= 0) {
        if (restart() != ResultOk) return Unsupported;
        offset = aSeconds;
    }
    // Seconds of the stream are seconds of the source: at any speed one of
    // them is mSourceRate frames.
    auto discard = static_cast<int64_t>(std::floor(static_cast<double>(mSourceRate) * offset));
    const uint32_t perRead = std::max(1u, aScratchFrames / std::max(1u, mChannelCount));
    while (discard > 0) {
        const auto n = static_cast<uint32_t>(std::min<int64_t>(discard, perRead));
        if (readFrames(aScratch, n, n) == 0) break; // the source has nothing more
        discard -= n;
    }
    mStreamSeconds = aSeconds;
    return ResultOk;
}

} // namespace Murmel
