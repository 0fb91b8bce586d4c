// cli.h - the command-line numbers of the tools: a whole text that is a
// number within a range, or nothing.
//
// Threads: any. Units: whatever the option counts.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>

// A whole decimal integer in lo..hi; false (and *out untouched) otherwise.
inline bool parseInteger(const char *text, int64_t lo, int64_t hi, int64_t *out) {
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (errno || end == text || *end || v < lo || v > hi) return false;
    *out = v;
    return true;
}

// A whole number (as strtod reads it, NaN excluded) in lo..hi.
inline bool parseNumber(const char *text, double lo, double hi, double *out) {
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno || end == text || *end || !(v >= lo && v <= hi)) return false;
    *out = v;
    return true;
}
