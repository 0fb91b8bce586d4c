// platform.h - the small Linux layer under vROm 2022
//
// What it does
//   Gives the rest of the demo the five operating-system services it needs,
//   each in one place:
//     - a blocking message box with a caption, a text and one OK button
//       (SDL's simple message box), behind a hook that tests can redirect;
//     - dynamic libraries: open by file name, look a symbol up, close;
//     - the assertion report channel: a line on standard error, then the
//       process stops (a debugger trap when one is attached, else abort);
//     - the mixer mutex type (a plain, non-recursive std::mutex);
//     - the folder that holds the running executable.
//
// What it does not do
//   It owns no window and keeps no state beyond the message-box hook. It does
//   not initialise SDL: a message box shown before SDL_Init still works,
//   because SDL's simple message box brings up what it needs itself.
//
// Threads
//   showMessageBox and setMessageBoxHook: main thread (the GL toolkit and the
//   shell). reportAssertion: any thread. Library calls and
//   executableDirectory: any thread.
#pragma once

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

// ---- the executable's folder ----------------------------------------------

// The absolute folder of the running executable, symbolic links resolved
// (/proc/self/exe), without a trailing slash; empty when it cannot be told.
std::string executableDirectory();

} // namespace platform
