// sndfile.h for the web back end: libsndfile is not built for WebAssembly, so
// in the browser the engine plays Ogg Vorbis only (the show's music). This
// stands in for the part of libsndfile's interface the wav stream uses: every
// open fails, so a WAV, FLAC or MP3 file is refused as unreadable.
#pragma once

#include <cstdint>

typedef int64_t sf_count_t;
#define SF_COUNT_MAX INT64_MAX
#define SFM_READ 0x10
#define SF_FORMAT_TYPEMASK 0x0FFF0000
#define SF_FORMAT_WAV 0x010000
#define SF_FORMAT_WAVEX 0x130000
#define SF_FORMAT_RF64 0x220000
#define SF_FORMAT_FLAC 0x170000
#define SF_FORMAT_MPEG 0x230000

struct SNDFILE;
struct SF_INFO {
    sf_count_t frames;
    int samplerate, channels, format, sections, seekable;
};
typedef sf_count_t (*sf_vio_get_filelen)(void *);
typedef sf_count_t (*sf_vio_seek)(sf_count_t, int, void *);
typedef sf_count_t (*sf_vio_read)(void *, sf_count_t, void *);
typedef sf_count_t (*sf_vio_write)(const void *, sf_count_t, void *);
typedef sf_count_t (*sf_vio_tell)(void *);
struct SF_VIRTUAL_IO {
    sf_vio_get_filelen get_filelen;
    sf_vio_seek seek;
    sf_vio_read read;
    sf_vio_write write;
    sf_vio_tell tell;
};

inline SNDFILE *sf_open_virtual(SF_VIRTUAL_IO *, int, SF_INFO *, void *) { return nullptr; }
inline int sf_close(SNDFILE *) { return 0; }
inline sf_count_t sf_readf_float(SNDFILE *, float *, sf_count_t) { return 0; }
inline sf_count_t sf_seek(SNDFILE *, sf_count_t, int) { return -1; }
