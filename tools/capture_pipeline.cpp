// capture_pipeline.cpp - see capture_pipeline.h.
#include "capture_pipeline.h"
#include "png_encoder.h"

#include <cerrno>
#include <cstring>

namespace fs = std::filesystem;

CapturePipeline::CapturePipeline(CaptureOutput aOutput, fs::path aOutDir, FILE *aStream, int32_t aWidth,
                                 int32_t aHeight, uint32_t aJobs)
    : mOutput(aOutput), mOutDir(std::move(aOutDir)), mStream(aStream), mWidth(aWidth), mHeight(aHeight),
      mCapacity(2 * static_cast<size_t>(aJobs == 0 ? 1 : aJobs) + 2) {
    for (uint32_t i = 0; i < (aJobs == 0 ? 1 : aJobs); ++i) mEncoders.emplace_back([this] { encodeLoop(); });
    mWriter = std::thread([this] { writeLoop(); });
}

CapturePipeline::~CapturePipeline() { finish(); }

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
    std::vector<uint8_t> topDown;
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
            topDown.resize(frame.pixels.size());
            for (int32_t y = 0; y < mHeight; ++y)
                std::memcpy(&topDown[static_cast<size_t>(y) * row],
                            &frame.pixels[static_cast<size_t>(mHeight - 1 - y) * row], row);
            if (mOutput == CaptureOutput::Png) frame.bytes = png.encode(topDown.data(), mWidth, mHeight);
            else frame.bytes.swap(topDown);
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
    char name[32];
    std::snprintf(name, sizeof name, "frame_%06lld.png", static_cast<long long>(aFrame.index));
    const fs::path path = mOutDir / name, temporary = mOutDir / (std::string(name) + ".partial");
    FILE *file = std::fopen(temporary.c_str(), "wb");
    bool ok = file && std::fwrite(aFrame.bytes.data(), 1, aFrame.bytes.size(), file) == aFrame.bytes.size();
    const int writeErrno = errno;
    if (file && std::fclose(file) != 0) ok = false;
    std::error_code renamed;
    if (ok) fs::rename(temporary, path, renamed);
    if (ok && !renamed) return true;
    mError = std::string("capture: [") + name + "] write failed: " +
             (renamed ? renamed.message() : std::string(std::strerror(writeErrno ? writeErrno : errno)));
    return false;
}
