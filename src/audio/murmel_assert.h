// murmel_assert.h - the engine's invariant checks.
#pragma once

#include "platform/platform.h"

// Reports "FILE(LINE): assert(EXPRESSION) failed." and stops the process when
// the expression is false. FILE and LINE name the check, not this source.
#define MURMEL_ASSERT(file, line, expression)                                                     \
    do {                                                                                          \
        if (!(expression)) platform::reportAssertion(file, line, #expression);                    \
    } while (0)
