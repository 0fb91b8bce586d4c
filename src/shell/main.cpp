// main.cpp - vROm 2022: start everything, then drain events and draw forever.
#include "shell/shell.h"
#include "show/show.h"
#include "show/stats.h"

#include <cstdlib>
#include <cstring>

int main(int argc, char **) {
    // VROM_STATS=1: one line a second on standard error of what frames cost.
    const char *stats = std::getenv("VROM_STATS");
    enableFrameStats(stats && std::strcmp(stats, "1") == 0);
    startShell(argc);
    for (;;) {
        pumpEvents();
        drawFrame();
    }
}
