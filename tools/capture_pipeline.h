// capture_pipeline.h - captured frames encoded and written on worker threads.
//
// What it does
//   Takes frames as the GL thread reads them back (RGB rows, bottom row
//   first, as glReadPixels gives them), turns them top row first, encodes
//   them (PNG, or raw RGB24 for a pipe) and writes them strictly in frame
//   order: OUTDIR/frame_000000.png and on, or one after another to a stream.
//   PNG frames are written as NAME.partial and keep that name until commit
//   renames them all, so a capture that fails leaves every file it did not
//   make as it was; discard (or the destructor, without a commit) removes
//   the partial files.
//
// What it does not do
//   No GL, no sound: the capture tool renders, reads back and mixes.
//
// Threads
//   GL thread: submit (blocks while the queue is full), finish.
//   Encoder threads (jobs, fixed at start): each takes the oldest waiting
//   frame and encodes it with its own encoder and buffers.
//   One writer thread: writes the encoded frames in frame order.
//   Frames in flight (submitted, not yet written): at most 2 * jobs + 2, and
//   no more than MAX_BYTES_IN_FLIGHT of pixels hold (but at least 2 frames),
//   so memory stays bounded whatever the length of the capture, the frame
//   size or the number of jobs. There are never more encoder threads than
//   frames that may be in flight.
//
// Units: sizes in pixels, 3 bytes a pixel; frame indices from 0.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum class CaptureOutput {
    Png,     // OUTDIR/frame_NNNNNN.png
    Raw,     // RGB24 frames, one after another, to a stream (a pipe)
    Discard, // nothing written (a dry run)
};

class CapturePipeline {
public:
    static constexpr size_t MAX_BYTES_IN_FLIGHT = size_t(1) << 30; // frames' pixels held at once

    CapturePipeline(CaptureOutput aOutput, std::filesystem::path aOutDir, FILE *aStream, int32_t aWidth,
                    int32_t aHeight, uint32_t aJobs);
    ~CapturePipeline(); // finishes; without a commit, removes the partial frames
    CapturePipeline(const CapturePipeline &) = delete;
    CapturePipeline &operator=(const CapturePipeline &) = delete;

    // Hands frame `index` over (indices in order from 0). Blocks while the
    // queue is full. False once writing has failed (see finish).
    bool submit(int64_t aIndex, std::vector<uint8_t> &&aBottomUpRgb);
    // Waits until every submitted frame is written and stops the threads.
    // False, with the reason in *aError, when a write failed.
    bool finish(std::string *aError = nullptr);
    // After a successful finish: renames every PNG frame to its real name, in
    // frame order. False, with the reason, when a rename fails.
    bool commit(std::string *aError = nullptr);
    // Removes the partial PNG frames written so far (after finish).
    void discard();
    int64_t framesWritten() const { return mWritten.load(); }
    size_t capacity() const { return mCapacity; }
    size_t encoderThreads() const { return mEncoders.size(); }

private:
    struct Frame {
        int64_t index = 0;
        std::vector<uint8_t> pixels; // as submitted, bottom row first
        std::vector<uint8_t> bytes;  // encoded
    };
    void encodeLoop();
    void writeLoop();
    bool writeFrame(const Frame &aFrame);
    std::filesystem::path framePath(int64_t aIndex, bool aPartial) const;

    const CaptureOutput mOutput;
    const std::filesystem::path mOutDir;
    FILE *const mStream;
    const int32_t mWidth, mHeight;
    const size_t mCapacity; // frames in flight, 2 .. 2 * jobs + 2 (by memory), fixed at start

    std::mutex mLock;
    std::condition_variable mChanged;  // any change below
    std::deque<Frame> mWaiting;        // submitted, not yet taken by an encoder
    std::map<int64_t, Frame> mEncoded; // encoded, waiting for their turn
    size_t mInFlight = 0;              // submitted and not yet written
    int64_t mNextToWrite = 0;          // the writer's next frame
    bool mClosing = false;             // finish was called
    bool mFailed = false;              // a write failed; mError says why
    std::string mError;
    std::atomic<int64_t> mWritten{0};

    std::vector<std::thread> mEncoders;
    std::thread mWriter;
    bool mFinished = false;
    bool mCommitted = false;
};
