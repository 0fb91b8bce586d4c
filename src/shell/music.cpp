// music.cpp - the audio engine's part of start-up, and the two music voices.
#include "shell/demostate.h"
#include "shell/lifetime.h"
#include "shell/shell.h"

void startAudio() {}

void loadMusic() {}

void startMusic() {}

void setMusicVolumes(float, float) {}
