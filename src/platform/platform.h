// platform.h - the small layer under vROm 2022, one back end per platform
//
// What it does
//   Gives the rest of the demo the operating-system services it needs, each
//   in one place:
//     - a blocking message box with a caption, a text and one OK button,
//       behind a hook that tests can redirect;
//     - dynamic libraries: open by file name, look a symbol up, close;
//     - the assertion report channel: a line on standard error, then the
//       process stops (a debugger trap when one is attached, else abort);
//     - the mixer mutex type (a plain, non-recursive std::mutex);
//     - the folder that holds the running executable;
//     - the show's millisecond clock, and the end of a frame.
//
// Back ends (the build option VROM_PLATFORM picks one)
//   | service         | sdl (Linux desktop, platform_sdl.cpp) | web (platform_web.cpp)          |
//   |-----------------|---------------------------------------|---------------------------------|
//   | message box     | SDL's simple message box              | a message on the page           |
//   | clock           | SDL_GetTicks                          | performance.now, stopped while  |
//   |                 |                                       | the show is paused              |
//   | end of a frame  | 1 ms sleep, swap (vertical sync)      | nothing: the browser presents   |
//   | libraries       | dlopen                                | none (null)                     |
//   | GL              | OpenGL 3.3 through glad               | WebGL2 (web/glad/gl.h)          |
//   | audio device    | SDL (murmel_sdl.cpp)                  | Web Audio (murmel_web.cpp)      |
//   | scenes 1 and 5  | OpenMP, AVX2 clones                   | one thread, 128-bit SIMD        |
//   | exit            | exit status                           | a message; the page stays       |
//   The rest (platform.cpp) is common to both.
//
// What it does not do
//   It owns no window and keeps no state beyond the message-box hook and the
//   web clock. It does not initialise SDL: a message box shown before SDL_Init
//   still works, because SDL's simple message box brings up what it needs.
//
// Threads
//   showMessageBox, setMessageBoxHook, ticksMs, presentFrame: main thread.
//   reportAssertion: any thread. Library calls and executableDirectory: any
//   thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace platform {

// ---- message box -----------------------------------------------------------

// A function that receives every message box instead of the screen.
using MessageBoxHook = void (*)(const char *caption, const char *text);

// Shows a modal box (no owner window, one OK button) and returns once the user
// has dismissed it. With a hook installed, calls the hook instead. If no box
// can be shown (no display), the caption and text go to standard error.
void showMessageBox(const char *caption, const char *text);
// The back end's own box (showMessageBox without the hook); false when none
// could be shown.
bool showBackendBox(const char *caption, const char *text);

// Installs a hook (null restores the real box). Returns the previous hook.
MessageBoxHook setMessageBoxHook(MessageBoxHook hook);

// ---- dynamic libraries -----------------------------------------------------

// Opens a shared library by file name ("libSDL2-2.0.so.0"); null on failure.
void *openLibrary(const char *fileName);
// Looks a symbol up in an open library; null when it is not there.
void *findSymbol(void *library, const char *name);
// Closes a library opened by openLibrary (null is ignored).
void closeLibrary(void *library);

// ---- assertion reports -----------------------------------------------------

// Writes text to the debugger output channel (standard error).
void debugOutput(const char *text);

// Writes "FILE(LINE): assert(EXPRESSION) failed.\n" to the debugger output
// channel, then stops the process: a trap when a debugger is attached,
// abort otherwise. Never returns.
[[noreturn]] void reportAssertion(const char *file, int line, const char *expression);

// ---- the mixer mutex -------------------------------------------------------

// Non-recursive: locking it twice on one thread is a bug, which the engine's
// own inside-flag assertion reports.
using Mutex = std::mutex;

// ---- the clock and the frame -----------------------------------------------

// Milliseconds since the back end started, wrapping at 2^32.
uint32_t ticksMs();
// Ends a drawn frame (see the table above).
void presentFrame();

// ---- the executable's folder ----------------------------------------------

// The absolute folder of the running executable, symbolic links resolved
// (/proc/self/exe), without a trailing slash; empty when it cannot be told.
std::string executableDirectory();

} // namespace platform
