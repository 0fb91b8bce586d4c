// st_glerror.h - the GL error report shared by the toolkit's source files.
#pragma once

#include <cstdint>

namespace st {

// The name and explanation shown for a glGetError value; values outside
// 0x0500..0x0505 give "Unknown" / "Unknown gl error".
struct GlErrorText {
    const char *name;
    const char *explanation;
};
GlErrorText glErrorText(uint32_t error);

// Takes one error from GL (one glGetError call). If there was one, shows the
// box captioned "source::line:NAME" with the explanation, and returns the
// error; returns 0 otherwise. Pending errors are not drained.
uint32_t checkGlErrorIn(const char *source, int32_t line);

// Shows a box whose caption is "source::line:detail" formatted into a
// 256-character buffer (longer captions are cut), with the given text.
void reportInBox(const char *source, int32_t line, const char *detail, const char *text);

} // namespace st
