// capture_pipeline.cpp - see capture_pipeline.h.
#include "capture_pipeline.h"
#include "png_encoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fs = std::filesystem;

namespace {
// Frames in flight: two for each job and two more, as many as fit in the
// memory budget, and never fewer than two.
size_t framesInFlight(int32_t aWidth, int32_t aHeight, uint32_t aJobs) {
    const size_t frameBytes = std::max<size_t>(1, static_cast<size_t>(aWidth) * static_cast<size_t>(aHeight) * 3);
    const size_t byCount = 2 * static_cast<size_t>(std::max(1u, aJobs)) + 2;
    return std::clamp<size_t>(CapturePipeline::MAX_BYTES_IN_FLIGHT / frameBytes, 2, byCount);
}
} // namespace

CapturePipeline::CapturePipeline(CaptureOutput aOutput, fs::path aOutDir, FILE *aStream, int32_t aWidth,
                                 int32_t aHeight, uint32_t aJobs)
    : mOutput(aOutput), mOutDir(std::move(aOutDir)), mStream(aStream), mWidth(aWidth), mHeight(aHeight),
      mCapacity(framesInFlight(aWidth, aHeight, aJobs)) {
    // An encoder beyond the frames that may be in flight would only wait.
    const size_t encoders = std::min<size_t>(std::max(1u, aJobs), mCapacity);
    for (size_t i = 0; i < encoders; ++i) mEncoders.emplace_back([this] { encodeLoop(); });
    mWriter = std::thread([this] { writeLoop(); });
}

CapturePipeline::~CapturePipeline() {
    finish();
    if (!mCommitted) discard();
}

fs::path CapturePipeline::framePath(int64_t aIndex, bool aPartial) const {
    char name[40];
    std::snprintf(name, sizeof name, "frame_%06lld.png%s", static_cast<long long>(aIndex), aPartial ? ".partial" : "");
    return mOutDir / name;
}

bool CapturePipeline::commit(std::string *aError) {
    if (!finish(aError)) return false;
    if (mOutput == CaptureOutput::Png)
        for (int64_t k = 0; k < mWritten.load(); ++k) {
            std::error_code error;
            fs::rename(framePath(k, true), framePath(k, false), error);
            if (error) {
                if (aError) *aError = "capture: [" + framePath(k, false).filename().string() + "] rename failed: " + error.message();
                return false;
            }
        }
    mCommitted = true;
    return true;
}

void CapturePipeline::discard() {
    finish();
    if (mOutput != CaptureOutput::Png || mCommitted) return;
    for (int64_t k = 0; k < mWritten.load(); ++k) {
        std::error_code error;
        fs::remove(framePath(k, true), error);
    }
}

bool CapturePipeline::submit(int64_t aIndex, std::vector<uint8_t> &&aBottomUpRgb) {
    std::unique_lock<std::mutex> lock(mLock);
    mChanged.wait(lock, [this] { return mInFlight < mCapacity || mFailed; });
    if (mFailed) return false;
    Frame frame;
    frame.index = aIndex;
    frame.pixels = std::move(aBottomUpRgb);
    mWaiting.push_back(std::move(frame));
    ++mInFlight;
    mChanged.notify_all();
    return true;
}

bool CapturePipeline::finish(std::string *aError) {
    if (!mFinished) {
        {
            std::lock_guard<std::mutex> lock(mLock);
            mClosing = true;
        }
        mChanged.notify_all();
        for (std::thread &t : mEncoders) t.join();
        mWriter.join();
        mFinished = true;
    }
    if (aError) *aError = mError;
    return !mFailed;
}

void CapturePipeline::encodeLoop() {
    PngEncoder png;
    const size_t row = static_cast<size_t>(mWidth) * 3;
    for (;;) {
        Frame frame;
        {
            std::unique_lock<std::mutex> lock(mLock);
            mChanged.wait(lock, [this] { return !mWaiting.empty() || mClosing || mFailed; });
            if (mWaiting.empty()) return; // closing, and nothing left
            frame = std::move(mWaiting.front());
            mWaiting.pop_front();
        }
        if (mOutput != CaptureOutput::Discard) {
            // Top row first, in place: no frame-sized buffer of the encoder's own.
            uint8_t *pixels = frame.pixels.data();
            for (int32_t y = 0; y < mHeight / 2; ++y)
                std::swap_ranges(pixels + static_cast<size_t>(y) * row, pixels + static_cast<size_t>(y + 1) * row,
                                 pixels + static_cast<size_t>(mHeight - 1 - y) * row);
            if (mOutput == CaptureOutput::Png) frame.bytes = png.encode(pixels, mWidth, mHeight);
            else frame.bytes.swap(frame.pixels);
        }
        frame.pixels = {};
        {
            std::lock_guard<std::mutex> lock(mLock);
            mEncoded.emplace(frame.index, std::move(frame));
        }
        mChanged.notify_all();
    }
}

void CapturePipeline::writeLoop() {
    for (;;) {
        Frame frame;
        {
            std::unique_lock<std::mutex> lock(mLock);
            mChanged.wait(lock, [this] {
                return mEncoded.count(mNextToWrite) || (mClosing && mInFlight == 0) || mFailed;
            });
            if (mFailed || !mEncoded.count(mNextToWrite)) return;
            auto it = mEncoded.find(mNextToWrite);
            frame = std::move(it->second);
            mEncoded.erase(it);
        }
        const bool ok = writeFrame(frame);
        {
            std::lock_guard<std::mutex> lock(mLock);
            --mInFlight;
            ++mNextToWrite;
            if (!ok) mFailed = true;
        }
        if (ok) ++mWritten;
        mChanged.notify_all();
        if (!ok) return;
    }
}

bool CapturePipeline::writeFrame(const Frame &aFrame) {
    if (mOutput == CaptureOutput::Discard) return true;
    if (mOutput == CaptureOutput::Raw) {
        if (std::fwrite(aFrame.bytes.data(), 1, aFrame.bytes.size(), mStream) == aFrame.bytes.size()) return true;
        mError = std::string("capture: [frame ") + std::to_string(aFrame.index) + "] write to the pipe failed: " +
                 std::strerror(errno);
        return false;
    }
    const fs::path temporary = framePath(aFrame.index, true);
    errno = 0;
    FILE *file = std::fopen(temporary.c_str(), "wb");
    int why = file ? 0 : errno;
    bool ok = file && std::fwrite(aFrame.bytes.data(), 1, aFrame.bytes.size(), file) == aFrame.bytes.size();
    if (file && !ok) why = errno;
    if (file && std::fclose(file) != 0) {
        if (ok) why = errno; // a full disk often shows only here, as the buffer goes out
        ok = false;
    }
    if (ok) return true;
    std::error_code removed;
    if (file) fs::remove(temporary, removed); // nothing half-written stays
    mError = "capture: [" + framePath(aFrame.index, false).filename().string() + "] write failed: " +
             std::strerror(why ? why : EIO);
    return false;
}
