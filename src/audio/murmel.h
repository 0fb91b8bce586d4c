// murmel.h - the demo's audio engine
//
// What it does
//   Plays sound sources through a table of 1024 voice slots. A source
//   (Murmel::AudioSource, here always a Murmel::WavStream) describes a sound;
//   each Engine::play makes a playing instance of it in a slot and returns a
//   VoiceHandle. For every device buffer the mixer picks at most 16 voices
//   (keep-ticking ones first, then the loudest), pulls 512-frame blocks from
//   each, resamples them linearly in 20-bit fixed point, spreads them over the
//   two output channels while ramping each channel's gain across the block (so
//   volume changes never click), then applies a soft round-off clipper. Mono
//   and stereo voices are resampled, panned and added onto the bus in one
//   pass, four frames at a time; the result is the same, bit for bit, as
//   the two steps one after the other.
//   Sound files are decoded while they play: Ogg Vorbis with stb_vorbis; WAV,
//   FLAC and MP3 with libsndfile (16-bit and float WAVs in memory straight
//   from their data chunk); all bytes come through Murmel::File. Voices of a
//   caller's file each read it through a view with a position of their own.
//
// What it does not do
//   No effects, no 3-D sound, no timed fades (call setVolume every frame, as
//   the show does), no recording. Operations never throw: they return result
//   codes. A broken internal invariant prints "FILE(LINE): assert(EXPR)
//   failed." and stops the process.
//
// Threads
//   Main thread: start, play, setVolume, stop*, shutdown, loading sources.
//   Audio thread (SDL's, or any caller of mixBlock when rendering offline):
//   mixBlock and everything it calls on instances. One non-recursive mutex
//   (lockMixer / unlockMixer) guards the voice table between the two; every
//   instance virtual runs with it held.
//
// Units
//   Rates in frames per second, lengths in frames (a frame is one sample per
//   channel), times in seconds, gains linear (1.0 = unchanged). Buffers handed
//   to the mixer are planar: channel c starts at c * stride floats.
//
// Offline use (tests, capture)
//   Engine::finishBackendSetup(rate, frames, 1, 2) sizes the buffers without a
//   device; Engine::mixBlock(frames, stride) then leaves the mix in
//   mMixScratch.data.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace Murmel {

// ---- constants and result codes -------------------------------------------------

inline constexpr uint32_t VOICE_COUNT = 1024;        // voice slots
inline constexpr uint32_t MAX_CHANNELS = 8;          // per voice and per output
inline constexpr uint32_t BLOCK_FRAMES = 512;        // sources are read in blocks of this
inline constexpr uint32_t MIN_LOOP_CYCLE_FRAMES = 64; // a shorter loop plays once per block (see mixMainBus)
inline constexpr uint32_t FIXED_ONE = 0x100000;      // one source frame in 20-bit fixed point
inline constexpr uint32_t FIXED_BLOCK = 0x20000000;  // one block in fixed point
inline constexpr uint32_t MAX_ACTIVE_VOICES = 16;    // voices mixed per block

enum Result : int32_t {
    ResultOk = 0,
    BadArgument = 1,
    FileMissing = 2,
    FileUnreadable = 3,
    LibraryMissing = 4,
    // 5 is not used by this engine
    Unsupported = 6,
    GeneralFailure = 7,
};

// The code's name ("FileUnreadable"), or "unknown result" for another value.
const char *resultName(Result aResult);

// Bits 0-11: slot + 1; bits 12-31: play serial. 0 never names a voice.
using VoiceHandle = uint32_t;

// Voice flag bits (source flags share bits 0, 3, 4, 6, 7, 8).
enum VoiceFlag : uint32_t {
    FLAG_LOOPING = 1u << 0,
    FLAG_PROTECTED = 1u << 1,       // voice: never stolen; source: single instance
    FLAG_SINGLE_INSTANCE = 1u << 1, // source: starting it stops its running instances
    FLAG_PAUSED = 1u << 2,
    FLAG_INAUDIBLE = 1u << 5,
    FLAG_KEEP_TICKING = 1u << 7,    // listed first among active voices
    FLAG_NO_AUTO_STOP = 1u << 8,    // not released when it ends
};
inline constexpr uint32_t SOURCE_FLAGS_COPIED = (1u << 3) | (1u << 4) | (1u << 6) | (1u << 7) | (1u << 8);

class Engine;
class AudioSourceInstance;

// ---- files ------------------------------------------------------------------------

// An abstract byte stream, read by one reader at a time (no lock).
class File {
public:
    virtual ~File() = default;
    virtual int atEnd() = 0;                                  // non-zero at or past the end
    virtual uint32_t read(uint8_t *aDestination, uint32_t aBytes) = 0; // bytes copied
    virtual uint32_t size() = 0;                              // total length in bytes
    virtual int32_t seek(int32_t aPosition) = 0;              // absolute position
    virtual uint32_t tell() = 0;                              // current position
    virtual FILE *stdioHandle() { return nullptr; }
    virtual const uint8_t *memoryBytes() { return nullptr; }
};

// A file on disk, read with stdio.
class DiskFile : public File {
public:
    DiskFile() = default;
    explicit DiskFile(FILE *aStream) : mFileHandle(aStream) {}
    ~DiskFile() override;
    DiskFile(const DiskFile &) = delete;
    DiskFile &operator=(const DiskFile &) = delete;
    Result open(const char *aPath); // mode "rb"; FileMissing when it cannot be opened
    int atEnd() override;
    uint32_t read(uint8_t *aDestination, uint32_t aBytes) override;
    uint32_t size() override; // keeps the read position
    int32_t seek(int32_t aPosition) override;
    uint32_t tell() override;
    FILE *stdioHandle() override { return mFileHandle; }

    FILE *mFileHandle = nullptr; // null when not open
};

// Bytes in memory, owned or borrowed.
class MemoryFile : public File {
public:
    MemoryFile() = default;
    ~MemoryFile() override;
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;
    // Borrows aData (not copied, not freed). Ignored unless both are non-zero.
    void attach(const uint8_t *aData, uint32_t aLength);
    // Copies aData; the copy is freed with the file. Returns BadArgument for none.
    Result openCopy(const uint8_t *aData, uint32_t aLength);
    int atEnd() override;
    uint32_t read(uint8_t *aDestination, uint32_t aBytes) override; // never past the end
    uint32_t size() override { return mLength; }
    int32_t seek(int32_t aPosition) override; // negative: from the end; kept inside the image
    uint32_t tell() override { return mOffset; }
    const uint8_t *memoryBytes() override { return mData; }

    const uint8_t *mData = nullptr; // the bytes
    uint32_t mLength = 0;           // bytes in mData
    uint32_t mOffset = 0;           // read position, 0 .. mLength
    bool mOwnsData = false;         // free mData with the file
};

// The caller's file as every voice of a stream loaded with loadCallerFile
// reads it: the one File, and the lock that lets one reader at a time seek
// and read it (one lock per File, however often it is loaded).
struct SharedFile {
    File *file = nullptr;   // the caller's; never deleted here
    platform::Mutex lock;   // held for each seek-and-read
};
// The share of aFile: the one that exists while anything uses it, else a new one.
std::shared_ptr<SharedFile> shareCallerFile(File *aFile);

// A view of a shared file with a read position of its own: each read seeks
// the file there and reads under its lock, so that a voice being started (its
// decoder reading the header) never moves the position under a playing one.
class SharedFileView : public File {
public:
    explicit SharedFileView(std::shared_ptr<SharedFile> aShared) : mShared(std::move(aShared)) {}
    int atEnd() override { return mPosition >= size(); }
    uint32_t read(uint8_t *aDestination, uint32_t aBytes) override;
    uint32_t size() override;
    int32_t seek(int32_t aPosition) override;
    uint32_t tell() override { return mPosition; }

private:
    std::shared_ptr<SharedFile> mShared;
    uint32_t mPosition = 0; // this view's read position
};

// ---- sources and instances ------------------------------------------------------------

// Something that can be played. Owned by its creator; outlives its voices
// (its destructor stops them).
class AudioSource {
public:
    AudioSource() = default;
    AudioSource(const AudioSource &) = delete;
    AudioSource &operator=(const AudioSource &) = delete;

    virtual void attachFilter(uint32_t aIndex, void *aFilter); // slot < 8, else ignored
    virtual ~AudioSource();                                    // stops every voice of it
    virtual AudioSourceInstance *makeInstance() = 0;           // new instance, caller owns

    // Stops every voice started from this source (takes the mixer lock).
    void stopInstances();

    uint32_t mSourceFlags = 0;         // bit 0 looping, bit 1 single instance
    float mSourceRate = 44100.0f;      // frames per second
    float mDefaultVolume = 1.0f;       // used when play gets a negative volume
    uint32_t mChannelCount = 1;        // 1..8
    uint32_t mSourceId = 0;            // given at first play; 0 = none yet
    void *mFilter[8] = {};             // no filter kinds exist: stay null
    Engine *mEngine = nullptr;         // the engine that last played it
    double mLoopStart = 0.0;           // seconds; where a looping voice restarts
};

// One playing start of a source, owned by the engine while in a slot.
class AudioSourceInstance {
public:
    AudioSourceInstance() = default;
    AudioSourceInstance(const AudioSourceInstance &) = delete;
    AudioSourceInstance &operator=(const AudioSourceInstance &) = delete;

    virtual ~AudioSourceInstance();
    // Writes up to aFrames frames, planar (channel k at aDestination + k * aStride).
    virtual uint32_t readFrames(float *aDestination, uint32_t aFrames, uint32_t aStride) = 0;
    virtual bool isFinished() = 0;
    // Moves to aSeconds: restarts when going back, then reads and discards.
    virtual Result seekTo(double aSeconds, float *aScratch, uint32_t aScratchFrames);
    virtual Result restart() { return Unsupported; }
    virtual float queryInfo() { return 0.0f; }

    // Takes rate, channels, loop start and flags from the source.
    void initFromSource(const AudioSource &aSource, uint32_t aPlaySerial);

    uint32_t mPlaySerial = 0;          // serial given by play
    uint32_t mLoopsDone = 0;           // restarts of a looping voice
    uint32_t mVoiceFlags = 0;          // VoiceFlag bits
    float mPanPosition = 0.0f;         // -1 left .. 0 centre .. +1 right
    float mSpeakerGain[8] = {1, 1, 1, 1, 1, 1, 1, 1}; // per output channel, from the pan
    float mRequestedVolume = 1.0f;     // last volume set
    float mEffectiveVolume = 0.0f;     // requested volume x slot volume factor
    float mSourceRate = 44100.0f;      // the source's own rate
    float mPlayRate = 44100.0f;        // source rate x effective speed
    uint32_t mChannelCount = 1;        // source channels
    float mRequestedSpeed = 1.0f;      // relative play speed last set
    float mEffectiveSpeed = 1.0f;      // requested speed x slot speed factor
    double mPlayTime = 0.0;            // seconds played
    double mStreamSeconds = 0.0;       // seconds of the stream consumed
    float mAppliedGain[8] = {};        // gains reached at the end of the last block
    uint32_t mSourceId = 0;            // identity of the source it came from
    void *mFilterInstance[8] = {};     // none in this system
    float *mBlock[2] = {};             // current and previous 512 x 8 source block
    uint32_t mSourceCursor = 0;        // fixed-point read position in mBlock[0]
    uint32_t mPendingFrames = 0;       // output frames the current block still owes
    double mLoopStart = 0.0;           // seconds
};

// ---- the engine --------------------------------------------------------------------------

// A float array whose data is 16-byte aligned.
struct AlignedBuffer {
    float *data = nullptr;   // first 16-byte aligned address in base
    uint8_t *base = nullptr; // the allocation, owned
    uint32_t count = 0;      // floats
    void init(uint32_t aFloats); // frees any previous allocation; zero-filled
    AlignedBuffer() = default;
    AlignedBuffer(const AlignedBuffer &) = delete;
    AlignedBuffer &operator=(const AlignedBuffer &) = delete;
    ~AlignedBuffer();
};

struct VoiceSpatialData {
    float mSpeedFactor = 1.0f;  // multiplies the requested speed
    float mVolumeFactor = 1.0f; // multiplies the requested volume
};

class Engine {
public:
    Engine() = default;
    ~Engine(); // stops every voice, shuts down, frees the buffers
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // Shuts any previous run down, creates the mutex, opens the SDL device.
    // Without a device the engine still works (silently) and returns the
    // back end's failure code.
    Result start(uint32_t aSampleRate = 44100, uint32_t aBufferFrames = 2048);
    // Sizes every buffer for the granted rate, buffer length and channels.
    void finishBackendSetup(uint32_t aSampleRate, uint32_t aBufferFrames, uint32_t aFlags,
                            uint32_t aChannels);
    void shutdown(); // stops every voice, closes the device, destroys the mutex

    void lockMixer();
    void unlockMixer();

    // Starts a voice of aSource (pan -1..1, NaN centred; a negative or NaN
    // volume takes the source's default). Returns its handle, or 0 when every slot holds a
    // protected voice. aPaused: the voice starts paused (as setPause), inside
    // the same lock, so that the mixer never mixes it before the caller resumes it.
    VoiceHandle play(AudioSource &aSource, float aVolume = -1.0f, float aPan = 0.0f, bool aPaused = false);
    void stopAllVoices();
    int32_t voiceFromHandle(VoiceHandle aHandle) const; // slot, or -1
    void releaseVoice(uint32_t aVoice);                 // mixer lock held

    // ---- voice operations (murmel_core_voiceops) ----
    // Takes the lock; a stale or invalid handle is ignored (ResultOk). A NaN
    // volume is refused with BadArgument.
    Result setVolume(VoiceHandle aHandle, float aVolume);
    // Moves a voice to aSeconds into its source (going back restarts it; the
    // frames before the target are decoded and discarded). The next block
    // mixed starts there. Takes the lock; a stale handle is ignored (ResultOk);
    // a negative or NaN time is refused with BadArgument.
    Result seek(VoiceHandle aHandle, double aSeconds);
    // Pauses or resumes a voice: a paused voice is not mixed and does not
    // advance. Takes the lock; a stale handle is ignored (ResultOk).
    Result setPause(VoiceHandle aHandle, bool aPaused);
    void applyVoiceVolume(uint32_t aVoice, float aVolume);
    void refreshVoiceVolume(uint32_t aVoice);
    void applyVoicePan(uint32_t aVoice, float aPan);
    Result applyVoiceSpeed(uint32_t aVoice, float aSpeed);
    void refreshVoiceSpeed(uint32_t aVoice);

    // ---- active voices (mixer lock held) ----
    void refreshActiveVoices();
    void assignResampleBuffers();

    // ---- the mixer ----
    // Mixes aFrames frames (aStride = aFrames rounded up to 16) into
    // mMixScratch, planar. A request larger than the buffers is cut to
    // mScratchFrames; returns the frames mixed.
    uint32_t mixBlock(uint32_t aFrames, uint32_t aStride);
    void mixMainBus(float *aBuffer, uint32_t aFrames, uint32_t aStride, float *aScratch,
                    float aSampleRate, uint32_t aChannels);
    void clipOutput(AlignedBuffer &aInput, AlignedBuffer &aOutput, uint32_t aFrames,
                    float aVolume0, float aVolume1);

    platform::Mutex *mMixerMutex = nullptr;            // owned; null outside start..shutdown
    bool mInsideAudioThreadMutex = false;              // true while the mutex is held
    void (*mBackendCleanup)(Engine *) = nullptr;       // set by the back end
    uint32_t mMaxActiveVoices = MAX_ACTIVE_VOICES;     // voices mixed per block (< 256)
    uint32_t mVoiceHighWater = 0;                      // one past the highest used slot
    AlignedBuffer mMixScratch;                         // resampled voices, then the output
    uint32_t mScratchFrames = 0;                       // frames per channel in the scratch
    AlignedBuffer mBusBuffer;                          // the main mix, planar
    float **mResampleBlocks = nullptr;                 // 2 per active voice, into the storage
    AlignedBuffer mResampleStorage;                    // 16 x 2 blocks of 512 x 8 floats
    AudioSourceInstance **mResampleOwner = nullptr;    // voice using block pair i, or null
    AudioSourceInstance *mVoices[VOICE_COUNT] = {};    // owned; null = free slot
    uint32_t mSampleRate = 0;                          // output frames per second
    uint32_t mChannelCount = 2;                        // output channels
    uint32_t mBackendKind = 0;                         // BackendKind: 0 none, 2 SDL, 3 web
    const char *mBackendName = nullptr;                // "SDL2 (dynamic)" or "Web Audio" once started
    uint32_t mBufferFrames = 0;                        // device buffer length
    uint32_t mEngineFlags = 0;                         // bit 0: round-off clipper
    float mMasterVolume = 0.0f;                        // gain before the clipper
    float mPostClipScale = 0.0f;                       // gain after the clipper
    uint32_t mNextPlaySerial = 0;                      // serial of the next voice
    uint32_t mNextSourceId = 1;                        // identity of the next new source
    double mMixTime = 0.0;                             // seconds mixed
    VoiceSpatialData mSpatial[VOICE_COUNT];            // per slot, always 1.0 here
    uint32_t mActiveList[VOICE_COUNT] = {};            // slots mixed, in order
    uint32_t mActiveCount = 0;                         // entries of mActiveList in use
    bool mActiveDirty = true;                          // rebuild mActiveList before mixing
    AlignedBuffer mSeekScratch;                        // 512 x 8 floats a looping seek discards into
};

// The device back ends (1 is not used by this engine).
enum BackendKind : uint32_t { BACKEND_NONE = 0, BACKEND_SDL = 2, BACKEND_WEB = 3 };

// The device back end of this build, which Engine::start opens: the SDL one
// on the desktop (murmel_sdl.cpp); in a browser, the page's AudioContext
// (murmel_web.cpp: the page's engine only keeps the rate, since a second
// engine mixes on the browser's audio thread) and that audio worklet's own
// (murmel_worklet.cpp: the worklet's process() pulls mixBlock).
Result startDeviceBackend(Engine &aEngine, uint32_t aSampleRate, uint32_t aBufferFrames);
// The SDL back end: loads SDL2 at run time, opens the device and feeds it.
Result startSdlBackend(Engine &aEngine, uint32_t aSampleRate, uint32_t aBufferFrames);

// ---- the streamed sound file -----------------------------------------------------------

enum StreamFormat : uint32_t { FORMAT_WAV = 0, FORMAT_OGG = 1, FORMAT_FLAC = 2, FORMAT_MP3 = 3 };

// A sound file decoded while it plays; each instance opens its own decoder.
class WavStream : public AudioSource {
public:
    WavStream() = default;
    ~WavStream() override;
    // Inspects a file: "RIFF" WAV, "OggS" Vorbis, "fLaC" FLAC, else MP3.
    // BadArgument for null, FileMissing, or FileUnreadable (path forgotten).
    Result loadFile(const char *aPath);
    // The same from bytes in memory (copied), or from a file the caller keeps.
    Result loadMemory(const uint8_t *aData, uint32_t aLength);
    Result loadCallerFile(File *aFile);
    AudioSourceInstance *makeInstance() override;

    uint32_t mFormat = 0;            // StreamFormat
    char *mPath = nullptr;           // owned copy of the file name
    std::shared_ptr<MemoryFile> mMemoryImage; // whole-file image, shared with its instances, or null
    File *mCallerFile = nullptr;     // the caller's file, or null
    std::shared_ptr<SharedFile> mCallerShare; // how its instances read it, or null
    uint32_t mFrameCount = 0;        // length in frames, as the decoder reports

private:
    Result probe(File &aFile);
    void forget();
};

class WavStreamInstance : public AudioSourceInstance {
public:
    explicit WavStreamInstance(WavStream *aStream);
    ~WavStreamInstance() override;
    uint32_t readFrames(float *aDestination, uint32_t aFrames, uint32_t aStride) override;
    bool isFinished() override;
    Result seekTo(double aSeconds, float *aScratch, uint32_t aScratchFrames) override;
    Result restart() override;

    // Everything the audio thread reads is the instance's own, taken when it
    // was made: reloading its stream never touches a running instance.
    WavStream *mStream;              // the stream it was made from (read only by the constructor)
    uint32_t mFormat;                // StreamFormat, as loaded then
    uint32_t mFrameCount;            // length in frames of the file it opened
    uint32_t mFramesRead = 0;        // frames delivered since the last restart or seek
    File *mInput = nullptr;          // the bytes it reads, owned (for the caller's file: a view of it of its own)
    std::shared_ptr<MemoryFile> mImage; // its share of the stream's memory image, or null
    void *mDecoder = nullptr;        // the format's decoder, owned
    int32_t mVorbisFrameLength = 0;  // frames in the last Vorbis packet
    int32_t mVorbisFrameUsed = 0;    // of them delivered
    int32_t mVorbisChannelCount = 0; // channels in the last Vorbis packet
    float **mVorbisChannels = nullptr; // the packet's channels

    // A plain 16-bit or float WAV in a memory image, read straight from its
    // data chunk (the samples libsndfile would give, without its copies).
    struct DirectWav {
        const uint8_t *data = nullptr; // the first sample, in the image; null: read through libsndfile
        uint32_t frames = 0;           // whole frames in the chunk
        uint32_t channels = 0;         // interleaved channels
        bool isFloat = false;          // 32-bit float, else 16-bit PCM
    };
    DirectWav mDirect;
    uint32_t mDirectPosition = 0;    // the next frame read straight from the image

private:
    uint32_t readDirect(float *aDestination, uint32_t aFrames, uint32_t aStride, uint32_t aChannels);
};

} // namespace Murmel
