// showmix - the show's sound, mixed offline, as raw samples.
//
//   showmix FILE [--seconds S] [--start T]
//
// Plays the two music tracks as the demo does and mixes S seconds (default
// 10) of the show's sound from show time T (default 0) at 44100 Hz, frame by
// frame at 60 frames a second with the timeline's volumes (as vromcap does),
// and writes it to FILE as 32-bit float stereo, interleaved, little-endian,
// no header. It finds its assets as the demo does. The same program built for
// WebAssembly (the web build, run with node) is compared with this one by the
// tests: the two mixes agree within 1e-6.
//
// Status: 0 done, 1 a failure, 2 bad arguments.
#include "cli.h"
#include "shell/lifetime.h"
#include "shell/shell.h"
#include "show/show.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
int usage(const char *problem) {
    std::fprintf(stderr, "showmix: %s\nusage: showmix FILE [--seconds S] [--start T]\n", problem);
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    const char *path = nullptr;
    int64_t seconds = 10, start = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc) {
            if (!parseInteger(argv[++i], 1, 3600, &seconds)) return usage("--seconds takes 1 to 3600");
        } else if (a == "--start" && i + 1 < argc) {
            if (!parseInteger(argv[++i], 0, 2000000000, &start)) return usage("--start takes a show time from 0");
        } else if (!path && !a.empty() && a[0] != '-') {
            path = argv[i];
        } else {
            return usage(("unexpected argument " + a).c_str());
        }
    }
    if (!path) return usage("no FILE");
    FILE *file = std::fopen(path, "wb");
    if (!file) {
        std::fprintf(stderr, "showmix: [%s] cannot be written: %s\n", path, std::strerror(errno));
        return 1;
    }
    locateAssets();
    audioEngine.finishBackendSetup(44100, 2048, 1, 2); // no device
    loadMusic();
    startMusic();
    struct Out {
        FILE *file;
        bool ok;
        std::vector<float> interleaved;
    } out{file, true, {}};
    mixShowSound(start, seconds * 60, 60, 44100,
                 [](void *user, const float *planar, uint32_t stride, uint32_t count) {
                     auto &o = *static_cast<Out *>(user);
                     o.interleaved.resize(2 * static_cast<size_t>(count));
                     for (uint32_t i = 0; i < count; ++i)
                         for (uint32_t c = 0; c < 2; ++c) o.interleaved[2 * i + c] = planar[c * stride + i];
                     o.ok = o.ok && std::fwrite(o.interleaved.data(), 4, o.interleaved.size(), o.file) == o.interleaved.size();
                 },
                 &out);
    if (std::fclose(file) != 0 || !out.ok) {
        std::fprintf(stderr, "showmix: [%s] write failed: %s\n", path, std::strerror(errno));
        return 1;
    }
    return 0;
}
