// platform.cpp - what every back end shares: the message-box hook, dynamic
// libraries (dlopen where there is one), assertion reports and the
// executable's folder.
#include "platform/platform.h"

#include <dlfcn.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace platform {

namespace {
std::atomic<MessageBoxHook> messageBoxHook{nullptr};

// True when a tracer (gdb, lldb, strace) is attached to this process.
bool debuggerAttached() {
    FILE *status = std::fopen("/proc/self/status", "r");
    if (!status) return false;
    char line[256];
    bool attached = false;
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, "TracerPid:", 10) == 0) {
            attached = std::atoi(line + 10) != 0;
            break;
        }
    }
    std::fclose(status);
    return attached;
}
} // namespace

void showMessageBox(const char *caption, const char *text) {
    if (MessageBoxHook hook = messageBoxHook.load()) {
        hook(caption, text);
        return;
    }
    if (!showBackendBox(caption, text)) std::fprintf(stderr, "%s: %s\n", caption, text);
}

MessageBoxHook setMessageBoxHook(MessageBoxHook hook) { return messageBoxHook.exchange(hook); }

void *openLibrary(const char *fileName) { return dlopen(fileName, RTLD_NOW | RTLD_LOCAL); }

void *findSymbol(void *library, const char *name) {
    return library ? dlsym(library, name) : nullptr;
}

void closeLibrary(void *library) {
    if (library) dlclose(library);
}

void debugOutput(const char *text) {
    std::fputs(text, stderr);
    std::fflush(stderr);
}

void reportAssertion(const char *file, int line, const char *expression) {
    char text[512];
    std::snprintf(text, sizeof text, "%s(%d): assert(%s) failed.\n", file, line, expression);
    debugOutput(text);
    if (debuggerAttached()) std::raise(SIGTRAP);
    std::abort();
}

std::string executableDirectory() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !exe.has_parent_path()) return {};
    return exe.parent_path().string();
}

} // namespace platform
