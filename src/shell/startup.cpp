// startup.cpp - everything the show loads, once, before the first frame.
#include "shell/demostate.h"
#include "shell/shell.h"

void initDemo() {}

void startMusic() {}
