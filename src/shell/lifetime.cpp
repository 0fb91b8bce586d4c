// lifetime.cpp - the program-lifetime objects, in one place so that their
// order is explicit. init_priority makes them the first static objects built
// (101 first) and so the last torn down, in the reverse order.
#include "shell/lifetime.h"

__attribute__((init_priority(101))) Murmel::Engine audioEngine;
__attribute__((init_priority(102))) Murmel::WavStream meloMusic;
__attribute__((init_priority(103))) Murmel::WavStream spaceMusic;
__attribute__((init_priority(104))) st::Shadowmap shadowmap;
