// main.cpp - vROm 2022: start everything, then drain events and draw forever.
#include "shell/shell.h"
#include "show/show.h"

int main(int argc, char **) {
    startShell(argc);
    for (;;) {
        pumpEvents();
        drawFrame();
    }
}
