// show.h - the show: its clock, its schedule and the drawing of one frame
#pragma once

// Runs one frame of the show and presents it (main thread, GL context current).
void drawFrame();
