// murmel_wavstream.cpp - sound files decoded while they play.
//
// Ogg Vorbis goes through stb_vorbis, WAV, FLAC and MP3 through libsndfile;
// both read their bytes from a Murmel::File (a disk file, a memory image, or
// a file of the caller's) through a small cursor that keeps its own position.
#include "audio/murmel.h"

#include <sndfile.h>

#define STB_VORBIS_HEADER_ONLY
#include <stb/stb_vorbis.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

namespace Murmel {

namespace {
constexpr uint32_t TAG_RIFF = 0x46464952; // "RIFF", little-endian
constexpr uint32_t TAG_OGGS = 0x5367674F; // "OggS"
constexpr uint32_t TAG_FLAC = 0x43614C66; // "fLaC"

// A read position over a File, so that the decoders may seek anywhere in
// 0 .. size (a MemoryFile itself stops at its last byte).
struct Cursor {
    File *file;
    int64_t position;
    int64_t length;

    explicit Cursor(File *aFile) : file(aFile), position(0), length(aFile->size()) { aFile->seek(0); }
    int64_t read(void *aDestination, int64_t aBytes) {
        if (aBytes <= 0 || position >= length) return 0;
        if (static_cast<int64_t>(file->tell()) != position) file->seek(static_cast<int32_t>(position));
        const auto bytes = static_cast<uint32_t>(std::min<int64_t>(aBytes, std::min<int64_t>(length - position, INT32_MAX)));
        const uint32_t got = file->read(static_cast<uint8_t *>(aDestination), bytes);
        position += got;
        return got;
    }
    int64_t seek(int64_t aOffset, int aWhence) {
        const int64_t base = aWhence == SEEK_SET ? 0 : aWhence == SEEK_CUR ? position : length;
        position = std::clamp<int64_t>(base + aOffset, 0, std::min<int64_t>(length, INT32_MAX));
        return position;
    }
};

// ---- libsndfile: WAV, FLAC, MP3 --------------------------------------------------------------

struct SndDecoder {
    Cursor cursor;
    SF_INFO info{};
    SNDFILE *file = nullptr;
    explicit SndDecoder(File *aFile) : cursor(aFile) {}
};

sf_count_t sndLength(void *aUser) { return static_cast<Cursor *>(aUser)->length; }
sf_count_t sndSeek(sf_count_t aOffset, int aWhence, void *aUser) {
    return static_cast<Cursor *>(aUser)->seek(aOffset, aWhence);
}
sf_count_t sndRead(void *aDestination, sf_count_t aBytes, void *aUser) {
    return static_cast<Cursor *>(aUser)->read(aDestination, aBytes);
}
sf_count_t sndTell(void *aUser) { return static_cast<Cursor *>(aUser)->position; }
SF_VIRTUAL_IO SND_IO = {sndLength, sndSeek, sndRead, nullptr, sndTell};

// The container libsndfile must find behind each tag.
bool formatMatches(uint32_t aFormat, int aSndFormat) {
    const int major = aSndFormat & SF_FORMAT_TYPEMASK;
    switch (aFormat) {
    case FORMAT_WAV: return major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64;
    case FORMAT_FLAC: return major == SF_FORMAT_FLAC;
    default: return major == SF_FORMAT_MPEG;
    }
}

SndDecoder *openSnd(File *aFile, uint32_t aFormat) {
    auto *decoder = new SndDecoder(aFile);
    decoder->file = sf_open_virtual(&SND_IO, SFM_READ, &decoder->info, &decoder->cursor);
    if (!decoder->file || decoder->info.channels <= 0 || decoder->info.samplerate <= 0 ||
        !formatMatches(aFormat, decoder->info.format)) {
        if (decoder->file) sf_close(decoder->file);
        delete decoder;
        return nullptr;
    }
    return decoder;
}

void closeSnd(SndDecoder *aDecoder) {
    if (!aDecoder) return;
    sf_close(aDecoder->file);
    delete aDecoder;
}

// ---- WAV straight from a memory image ------------------------------------------------------------
//
// A WAV of 16-bit PCM or 32-bit float samples that is already in memory is
// read straight from its data chunk, without libsndfile's two copies (into
// its buffer, then into ours) on every block. The samples are the same ones
// libsndfile gives: a float as it is, a 16-bit sample times 2^-15 (both
// exact). Anything else (other sample formats, RF64, a header libsndfile
// reads differently) keeps the libsndfile path.

uint32_t le16(const uint8_t *aAt) { return aAt[0] | aAt[1] << 8; }
uint32_t le32(const uint8_t *aAt) { return aAt[0] | aAt[1] << 8 | aAt[2] << 16 | static_cast<uint32_t>(aAt[3]) << 24; }

// Finds the sample data of a plain 16-bit or float WAV image; false for any other.
bool findDirectWav(const uint8_t *aBytes, uint32_t aLength, WavStreamInstance::DirectWav *aOut) {
    if (aLength < 12 || std::memcmp(aBytes, "RIFF", 4) != 0 || std::memcmp(aBytes + 8, "WAVE", 4) != 0) return false;
    uint32_t tag = 0, channels = 0, bits = 0, align = 0;
    for (uint64_t at = 12; at + 8 <= aLength;) {
        const uint8_t *chunk = aBytes + at;
        const uint32_t size = le32(chunk + 4);
        const uint64_t payload = at + 8, available = aLength - payload;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16 || available < 16) return false;
            tag = le16(chunk + 8);
            channels = le16(chunk + 10);
            align = le16(chunk + 20);
            bits = le16(chunk + 22);
            if (tag == 0xFFFE) { // WAVE_FORMAT_EXTENSIBLE: the format is the sub-format's
                if (size < 40 || available < 40 || le16(chunk + 8 + 18) != bits) return false;
                tag = le16(chunk + 8 + 24);
            }
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            const bool pcm16 = tag == 1 && bits == 16, float32 = tag == 3 && bits == 32;
            if (!(pcm16 || float32) || channels == 0 || align != channels * bits / 8) return false;
            aOut->data = chunk + 8;
            aOut->frames = static_cast<uint32_t>(std::min<uint64_t>(size, available) / align);
            aOut->channels = channels;
            aOut->isFloat = float32;
            return true;
        }
        at = payload + size + (size & 1);
    }
    return false;
}

// ---- stb_vorbis: Ogg Vorbis ------------------------------------------------------------------------

// stb_vorbis allocates from an arena of ours: all its memory goes with the
// arena whatever path it takes (it leaks on some malformed setup headers when
// it allocates by itself), and absurd sizes in a crafted header fail as out of
// memory instead of reaching malloc. The arena starts at what ordinary files
// need plus room for the comments (kept in it, cover art included) and grows
// eightfold on "out of memory", never past the cap.
constexpr size_t VORBIS_ARENA_BYTES = 1u << 20;      // codebooks and floors of ordinary files
constexpr size_t VORBIS_ARENA_CAP_BYTES = 64u << 20; // the most one decoder may take

struct VorbisDecoder {
    Cursor cursor;
    FILE *stream = nullptr;     // a stdio view of the cursor (glibc's fopencookie)
    stb_vorbis *vorbis = nullptr;
    std::vector<char> arena;    // every byte the decoder allocates
    explicit VorbisDecoder(File *aFile) : cursor(aFile) {}
};

ssize_t cookieRead(void *aCookie, char *aBuffer, size_t aBytes) {
    return static_cast<ssize_t>(static_cast<Cursor *>(aCookie)->read(aBuffer, static_cast<int64_t>(aBytes)));
}
int cookieSeek(void *aCookie, off64_t *aOffset, int aWhence) {
    *aOffset = static_cast<Cursor *>(aCookie)->seek(*aOffset, aWhence);
    return 0;
}

// ---- a guard in front of stb_vorbis ----------------------------------------------------
//
// stb_vorbis trusts the lengths in the comment header: a length of 0xFFFFFFFF
// wraps its allocation to 0 bytes and it writes far past it. So the first two
// packets of the stream (identification and comment headers) are read here
// first, and a file whose headers are incomplete or whose lengths leave their
// packet is refused before the library sees it.

// Either of the first two packets, at most: comment headers carry cover art,
// often 1-10 MiB.
constexpr size_t MAX_HEADER_BYTES = 16u << 20;
// Pages that many bytes take (255 segments of 255 bytes a page), and a few more.
constexpr int MAX_HEADER_PAGES = static_cast<int>(2 * MAX_HEADER_BYTES / (255 * 255)) + 8;

// Collects the first `count` complete packets of the Ogg stream at the cursor.
bool readOggPackets(Cursor &aCursor, size_t aCount, std::vector<std::vector<uint8_t>> &aPackets) {
    std::vector<uint8_t> partial;
    for (int page = 0; page < MAX_HEADER_PAGES && aPackets.size() < aCount; ++page) {
        uint8_t header[27];
        if (aCursor.read(header, 27) != 27 || std::memcmp(header, "OggS", 4) != 0 || header[4] != 0) return false;
        uint8_t lacing[255];
        const int segments = header[26];
        if (aCursor.read(lacing, segments) != segments) return false;
        for (int s = 0; s < segments && aPackets.size() < aCount; ++s) {
            const size_t start = partial.size();
            partial.resize(start + lacing[s]);
            if (lacing[s] && aCursor.read(partial.data() + start, lacing[s]) != lacing[s]) return false;
            if (partial.size() > MAX_HEADER_BYTES) return false;
            if (lacing[s] < 255) { // the packet ends in this segment
                aPackets.push_back(std::move(partial));
                partial.clear();
            }
        }
        if (aPackets.size() >= aCount) return true;
        // The rest of this page's segments belong to packets not needed here.
    }
    return aPackets.size() >= aCount;
}

uint32_t readU32(const std::vector<uint8_t> &aPacket, size_t aAt) {
    return aPacket[aAt] | aPacket[aAt + 1] << 8 | aPacket[aAt + 2] << 16 | static_cast<uint32_t>(aPacket[aAt + 3]) << 24;
}

// True when both header packets are complete and consistent; *aCommentBytes
// is then what stb_vorbis keeps of the comments (strings and their list).
bool vorbisHeadersSound(File *aFile, size_t *aCommentBytes) {
    Cursor cursor(aFile);
    std::vector<std::vector<uint8_t>> packets;
    if (!readOggPackets(cursor, 2, packets)) return false;
    const std::vector<uint8_t> &id = packets[0], &comment = packets[1];
    if (id.size() < 30 || id[0] != 1 || std::memcmp(&id[1], "vorbis", 6) != 0 || id[11] == 0 || readU32(id, 12) == 0)
        return false;
    if (comment.size() < 7 + 4 + 4 + 1 || comment[0] != 3 || std::memcmp(&comment[1], "vorbis", 6) != 0) return false;
    size_t at = 7;
    auto skip = [&]() { // a length-prefixed field that must fit its packet
        if (at + 4 > comment.size()) return false;
        const uint32_t n = readU32(comment, at);
        at += 4;
        if (n > comment.size() - at) return false;
        at += n;
        return true;
    };
    if (!skip()) return false; // the vendor string
    if (at + 4 > comment.size()) return false;
    const uint32_t comments = readU32(comment, at);
    at += 4;
    if (comments > (comment.size() - at) / 4) return false;
    for (uint32_t i = 0; i < comments; ++i)
        if (!skip()) return false;
    // Each string and the list are rounded up to 8 bytes in the arena.
    *aCommentBytes = comment.size() + 16 * (static_cast<size_t>(comments) + 2);
    return at < comment.size(); // the framing byte
}

VorbisDecoder *openVorbis(File *aFile) {
    size_t commentBytes = 0;
    if (!vorbisHeadersSound(aFile, &commentBytes)) return nullptr;
    auto *decoder = new VorbisDecoder(aFile);
    const cookie_io_functions_t io = {cookieRead, nullptr, cookieSeek, nullptr};
    decoder->stream = fopencookie(&decoder->cursor, "rb", io);
    for (size_t bytes = std::min(VORBIS_ARENA_BYTES + commentBytes, VORBIS_ARENA_CAP_BYTES);;
         bytes = std::min(bytes * 8, VORBIS_ARENA_CAP_BYTES)) {
        if (!decoder->stream) break;
        decoder->arena.assign(bytes, 0);
        const stb_vorbis_alloc arena = {decoder->arena.data(), static_cast<int>(bytes)};
        int error = 0;
        std::fseek(decoder->stream, 0, SEEK_SET);
        decoder->vorbis = stb_vorbis_open_file(decoder->stream, 0, &error, &arena);
        if (decoder->vorbis || error != VORBIS_outofmem || bytes == VORBIS_ARENA_CAP_BYTES) break;
    }
    if (!decoder->vorbis) {
        if (decoder->stream) std::fclose(decoder->stream);
        delete decoder;
        return nullptr;
    }
    return decoder;
}

void closeVorbis(VorbisDecoder *aDecoder) {
    if (!aDecoder) return;
    stb_vorbis_close(aDecoder->vorbis);
    std::fclose(aDecoder->stream);
    delete aDecoder;
}
} // namespace

// ---- the caller's file, shared ------------------------------------------------------------------------

std::shared_ptr<SharedFile> shareCallerFile(File *aFile) {
    // Which files are shared now; an entry whose share is gone is replaced.
    static platform::Mutex registryLock;
    static std::vector<std::weak_ptr<SharedFile>> registry;
    std::lock_guard<platform::Mutex> guard(registryLock);
    registry.erase(std::remove_if(registry.begin(), registry.end(), [](const auto &w) { return w.expired(); }),
                   registry.end());
    for (const std::weak_ptr<SharedFile> &entry : registry)
        if (auto shared = entry.lock(); shared && shared->file == aFile) return shared;
    auto shared = std::make_shared<SharedFile>();
    shared->file = aFile;
    registry.push_back(shared);
    return shared;
}

uint32_t SharedFileView::read(uint8_t *aDestination, uint32_t aBytes) {
    std::lock_guard<platform::Mutex> guard(mShared->lock);
    mShared->file->seek(static_cast<int32_t>(mPosition));
    const uint32_t n = mShared->file->read(aDestination, aBytes);
    mPosition += n;
    return n;
}

uint32_t SharedFileView::size() {
    std::lock_guard<platform::Mutex> guard(mShared->lock);
    return mShared->file->size();
}

int32_t SharedFileView::seek(int32_t aPosition) {
    mPosition = static_cast<uint32_t>(std::clamp<int64_t>(aPosition, 0, size()));
    return 0;
}

// ---- WavStream ------------------------------------------------------------------------------------------

WavStream::~WavStream() {
    stopInstances();
    forget();
}

void WavStream::forget() {
    // Instances already made keep what they read: their own file or decoder,
    // their share of a memory image, their copy of the format and length.
    delete[] mPath;
    mPath = nullptr;
    mMemoryImage.reset();
    mCallerFile = nullptr;
    mCallerShare.reset();
    mFrameCount = 0;
}

Result WavStream::loadFile(const char *aPath) {
    forget();
    if (!aPath) return BadArgument;
    DiskFile file;
    if (file.open(aPath) != ResultOk) return FileMissing;
    const size_t length = std::strlen(aPath);
    mPath = new char[length + 1];
    std::memcpy(mPath, aPath, length + 1);
    const Result result = probe(file);
    if (result != ResultOk) {
        delete[] mPath;
        mPath = nullptr;
    }
    return result;
}

Result WavStream::loadMemory(const uint8_t *aData, uint32_t aLength) {
    forget();
    auto image = std::make_shared<MemoryFile>();
    if (image->openCopy(aData, aLength) != ResultOk) return BadArgument;
    const Result result = probe(*image);
    if (result != ResultOk) return result;
    mMemoryImage = std::move(image);
    return ResultOk;
}

Result WavStream::loadCallerFile(File *aFile) {
    forget();
    if (!aFile) return BadArgument;
    // Read through a view too: voices of an earlier load may be playing it.
    std::shared_ptr<SharedFile> share = shareCallerFile(aFile);
    SharedFileView view(share);
    const Result result = probe(view);
    if (result == ResultOk) {
        mCallerFile = aFile;
        mCallerShare = std::move(share);
    }
    return result;
}

Result WavStream::probe(File &aFile) {
    uint8_t bytes[4] = {};
    aFile.seek(0);
    aFile.read(bytes, 4);
    const uint32_t tag = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    aFile.seek(0);
    if (tag == TAG_OGGS) {
        VorbisDecoder *decoder = openVorbis(&aFile);
        if (!decoder) return FileUnreadable;
        const stb_vorbis_info info = stb_vorbis_get_info(decoder->vorbis);
        mChannelCount = std::min<uint32_t>(static_cast<uint32_t>(std::max(info.channels, 1)), MAX_CHANNELS);
        mSourceRate = static_cast<float>(info.sample_rate);
        mFrameCount = stb_vorbis_stream_length_in_samples(decoder->vorbis);
        closeVorbis(decoder);
        mFormat = FORMAT_OGG;
        return ResultOk;
    }
    const uint32_t format = tag == TAG_RIFF ? FORMAT_WAV : tag == TAG_FLAC ? FORMAT_FLAC : FORMAT_MP3;
    SndDecoder *decoder = openSnd(&aFile, format);
    if (!decoder) return FileUnreadable;
    mFormat = format;
    mChannelCount = std::min<uint32_t>(static_cast<uint32_t>(decoder->info.channels), MAX_CHANNELS);
    mSourceRate = static_cast<float>(decoder->info.samplerate);
    const sf_count_t frames = decoder->info.frames;
    mFrameCount = frames > 0 && frames != SF_COUNT_MAX ? static_cast<uint32_t>(frames) : 0; // low 32 bits
    closeSnd(decoder);
    return ResultOk;
}

AudioSourceInstance *WavStream::makeInstance() { return new WavStreamInstance(this); }

// ---- WavStreamInstance ------------------------------------------------------------------------------------

WavStreamInstance::WavStreamInstance(WavStream *aStream)
    : mStream(aStream), mFormat(aStream->mFormat), mFrameCount(aStream->mFrameCount) {
    if (aStream->mMemoryImage) {
        mImage = aStream->mMemoryImage; // a share: a reload cannot free it under us
        auto *image = new MemoryFile;
        image->attach(mImage->memoryBytes(), mImage->size());
        mInput = image;
    } else if (aStream->mPath) {
        auto *disk = new DiskFile;
        if (disk->open(aStream->mPath) == ResultOk) mInput = disk;
        else delete disk;
    } else if (aStream->mCallerShare) {
        mInput = new SharedFileView(aStream->mCallerShare); // its own position in the caller's file
    }
    if (!mInput) return;
    if (mFormat == FORMAT_OGG) {
        auto *vorbis = openVorbis(mInput);
        // The length of the file actually opened (one replaced on disk since
        // it was loaded may differ).
        if (vorbis) mFrameCount = stb_vorbis_stream_length_in_samples(vorbis->vorbis);
        mDecoder = vorbis;
    } else if (mFormat <= FORMAT_MP3) {
        auto *snd = openSnd(mInput, mFormat);
        if (snd) {
            const sf_count_t frames = snd->info.frames;
            mFrameCount = frames > 0 && frames != SF_COUNT_MAX ? static_cast<uint32_t>(frames) : 0;
            // Straight from the image, when it reads as libsndfile reads it.
            DirectWav direct;
            if (mImage && mFormat == FORMAT_WAV && findDirectWav(mImage->memoryBytes(), mImage->size(), &direct) &&
                direct.frames == frames && static_cast<int>(direct.channels) == snd->info.channels)
                mDirect = direct;
        }
        mDecoder = snd;
    }
    if (!mDecoder) {
        delete mInput;
        mInput = nullptr;
    }
}

WavStreamInstance::~WavStreamInstance() {
    if (mDecoder) {
        if (mFormat == FORMAT_OGG) closeVorbis(static_cast<VorbisDecoder *>(mDecoder));
        else closeSnd(static_cast<SndDecoder *>(mDecoder));
    }
    delete mInput;
}

uint32_t WavStreamInstance::readFrames(float *aDestination, uint32_t aFrames, uint32_t aStride) {
    if (!mInput || !mDecoder) return 0;
    const uint32_t channels = std::min(mChannelCount, MAX_CHANNELS);

    if (mFormat == FORMAT_OGG) {
        // At the end, or lost after a seek past it: the decoder's position
        // is no frame of this stream, so nothing more is delivered.
        if (mFrameCount != 0 && mFramesRead >= mFrameCount && mVorbisFrameUsed >= mVorbisFrameLength) return 0;
        stb_vorbis *vorbis = static_cast<VorbisDecoder *>(mDecoder)->vorbis;
        uint32_t written = 0;
        // Copies n frames of the current packet, from its used part on; the
        // packet's own channel count decides which channels it has.
        auto deliver = [&](uint32_t n) {
            if (n == 0) return; // at the end the decoder hands out no channels at all
            for (uint32_t k = 0; k < channels; ++k) {
                float *to = aDestination + k * aStride + written;
                if (static_cast<int32_t>(k) < mVorbisChannelCount)
                    std::memcpy(to, mVorbisChannels[k] + mVorbisFrameUsed, n * sizeof(float));
                else
                    std::memset(to, 0, n * sizeof(float)); // a packet with fewer channels
            }
            mVorbisFrameUsed += static_cast<int32_t>(n);
            mFramesRead += n;
            written += n;
        };
        if (mVorbisFrameLength > 0 && mVorbisFrameUsed < mVorbisFrameLength)
            deliver(std::min(static_cast<uint32_t>(mVorbisFrameLength - mVorbisFrameUsed), aFrames));
        for (;;) {
            if (written >= aFrames) return aFrames;
            float **outputs = nullptr;
            const int length = stb_vorbis_get_frame_float(vorbis, &mVorbisChannelCount, &outputs);
            mVorbisFrameLength = length;
            mVorbisChannels = outputs;
            mVorbisFrameUsed = 0;
            const uint32_t n = length > 0 ? std::min(static_cast<uint32_t>(length), aFrames - written) : 0;
            deliver(n);
            if (!(mFramesRead < mFrameCount && n != 0)) return written;
        }
    }

    if (mDirect.data) return readDirect(aDestination, aFrames, aStride, channels);

    // WAV, FLAC, MP3: interleaved floats through a 512 x 8 temporary, in pieces
    // small enough for the file's own channel count.
    auto *decoder = static_cast<SndDecoder *>(mDecoder);
    const auto fileChannels = static_cast<uint32_t>(decoder->info.channels);
    const uint32_t pieceFrames = std::max(1u, std::min(BLOCK_FRAMES, BLOCK_FRAMES * MAX_CHANNELS / fileChannels));
    float interleaved[BLOCK_FRAMES * MAX_CHANNELS];
    uint32_t total = 0;
    for (uint32_t i = 0; i < aFrames; i += pieceFrames) {
        const uint32_t want = std::min(pieceFrames, aFrames - i);
        const auto got = static_cast<uint32_t>(std::max<sf_count_t>(0, sf_readf_float(decoder->file, interleaved, want)));
        for (uint32_t k = 0; k < channels; ++k) {
            float *to = aDestination + k * aStride + i;
            if (k < fileChannels)
                for (uint32_t f = 0; f < got; ++f) to[f] = interleaved[f * fileChannels + k];
            else // a file with fewer channels than it had when it was loaded
                std::memset(to, 0, got * sizeof(float));
        }
        total += got;
        if (got < want) break; // the end of the file
    }
    mFramesRead += total;
    return total;
}

uint32_t WavStreamInstance::readDirect(float *aDestination, uint32_t aFrames, uint32_t aStride, uint32_t aChannels) {
    const uint32_t n = std::min(aFrames, mDirect.frames - std::min(mDirectPosition, mDirect.frames));
    const uint32_t fileChannels = mDirect.channels, sampleBytes = mDirect.isFloat ? 4 : 2;
    const uint8_t *from = mDirect.data + static_cast<size_t>(mDirectPosition) * fileChannels * sampleBytes;
    auto value = [&](uint32_t aFrame, uint32_t aChannel) {
        const uint8_t *at = from + (static_cast<size_t>(aFrame) * fileChannels + aChannel) * sampleBytes;
        if (mDirect.isFloat) {
            float v;
            std::memcpy(&v, at, 4);
            return v;
        }
        int16_t v;
        std::memcpy(&v, at, 2);
        return static_cast<float>(v) * (1.0f / 32768.0f);
    };
    uint32_t f = 0;
    if (mDirect.isFloat && fileChannels == 2 && aChannels == 2) {
        // Stereo floats, four frames at a time: two loads, two shuffles.
        typedef float Float4 __attribute__((vector_size(16)));
        for (; f + 4 <= n; f += 4) {
            Float4 a, b;
            std::memcpy(&a, from + 8 * static_cast<size_t>(f), 16);
            std::memcpy(&b, from + 8 * static_cast<size_t>(f) + 16, 16);
            const Float4 left = __builtin_shufflevector(a, b, 0, 2, 4, 6);
            const Float4 right = __builtin_shufflevector(a, b, 1, 3, 5, 7);
            std::memcpy(aDestination + f, &left, 16);
            std::memcpy(aDestination + aStride + f, &right, 16);
        }
    }
    for (uint32_t k = 0; k < aChannels; ++k) {
        float *to = aDestination + k * aStride;
        if (k < fileChannels)
            for (uint32_t i = f; i < n; ++i) to[i] = value(i, k);
        else // a file with fewer channels than it had when it was loaded
            std::memset(to + f, 0, (n - f) * sizeof(float));
    }
    mDirectPosition += n;
    mFramesRead += n;
    // The bytes of the read four blocks on (a device buffer's worth ahead),
    // on their way into the cache while the mixer goes on: an image this
    // size comes from memory, not from the cache.
    const size_t read = static_cast<size_t>(n) * fileChannels * sampleBytes, ahead = 4 * read;
    const size_t left = static_cast<size_t>(mDirect.frames - mDirectPosition) * fileChannels * sampleBytes;
    for (size_t at = ahead; at < std::min(ahead + read, left); at += 64) __builtin_prefetch(from + read + at);
    return n;
}

bool WavStreamInstance::isFinished() { return mFramesRead >= mFrameCount; }

Result WavStreamInstance::restart() {
    if (mDecoder) {
        if (mFormat == FORMAT_OGG) stb_vorbis_seek_start(static_cast<VorbisDecoder *>(mDecoder)->vorbis);
        else sf_seek(static_cast<SndDecoder *>(mDecoder)->file, 0, SEEK_SET);
    }
    mVorbisFrameLength = mVorbisFrameUsed = 0; // what was decoded before is gone
    mDirectPosition = 0;
    mFramesRead = 0;
    mStreamSeconds = 0;
    return ResultOk;
}

Result WavStreamInstance::seekTo(double aSeconds, float *aScratch, uint32_t aScratchFrames) {
    if (!mDecoder || !mInput) return AudioSourceInstance::seekTo(aSeconds, aScratch, aScratchFrames);
    const double target = std::floor(static_cast<double>(mSourceRate) * aSeconds);
    if (mFormat != FORMAT_OGG) {
        // Straight to the frame, not by decoding up to it: a loop restarting
        // late in a long file costs one seek, not the file's frames before
        // it. A target past the end lands on the end.
        if (mDirect.data) {
            mDirectPosition = static_cast<uint32_t>(std::clamp(target, 0.0, static_cast<double>(mDirect.frames)));
            mFramesRead = mDirectPosition;
            mStreamSeconds = aSeconds;
            return ResultOk;
        }
        auto *decoder = static_cast<SndDecoder *>(mDecoder);
        if (decoder->info.seekable && decoder->info.frames >= 0) {
            const double last = static_cast<double>(std::min<sf_count_t>(decoder->info.frames, UINT32_MAX));
            const auto frame = static_cast<sf_count_t>(std::clamp(target, 0.0, last));
            if (sf_seek(decoder->file, frame, SEEK_SET) == frame) {
                mFramesRead = static_cast<uint32_t>(frame);
                mStreamSeconds = aSeconds;
                return ResultOk;
            }
        }
        // A decoder that cannot seek there reads its way to it.
        return AudioSourceInstance::seekTo(aSeconds, aScratch, aScratchFrames);
    }
    stb_vorbis *vorbis = static_cast<VorbisDecoder *>(mDecoder)->vorbis;
    const auto sample = static_cast<uint32_t>(std::clamp(target, 0.0, static_cast<double>(UINT32_MAX)));
    mVorbisFrameLength = mVorbisFrameUsed = 0;
    if (sample == 0 ? stb_vorbis_seek_start(vorbis) : stb_vorbis_seek_frame(vorbis, sample)) {
        // The next frame holds the target: decode it and skip what lies before.
        const int offset = stb_vorbis_get_sample_offset(vorbis);
        if (offset >= 0 && static_cast<uint32_t>(offset) < sample) {
            mVorbisFrameLength = stb_vorbis_get_frame_float(vorbis, &mVorbisChannelCount, &mVorbisChannels);
            mVorbisFrameUsed = std::min(static_cast<int32_t>(sample - static_cast<uint32_t>(offset)), std::max(mVorbisFrameLength, 0));
            mFramesRead = static_cast<uint32_t>(offset) + static_cast<uint32_t>(mVorbisFrameUsed);
        } else {
            mFramesRead = offset >= 0 ? static_cast<uint32_t>(offset) : 0xFFFFFFFFu;
        }
    } else {
        mFramesRead = 0xFFFFFFFFu;
    }
    mStreamSeconds = mFramesRead / static_cast<double>(mSourceRate);
    return ResultOk;
}

} // namespace Murmel
