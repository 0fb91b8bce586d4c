// lifetime.h - the program-lifetime objects
//
// Built before main in this order, and torn down by the C runtime at exit in
// the reverse order: the shadow map first (its GL objects go while a context
// may still be current), then the space and melody streams, then the engine
// that plays them, so that no stream outlives its engine.
#pragma once

#include "audio/murmel.h"
#include "st/st_shadowmap.h"

extern Murmel::Engine audioEngine;  // mixes all sound; the first static object built
extern Murmel::WavStream meloMusic; // the melody track
extern Murmel::WavStream spaceMusic; // the ambient track
extern st::Shadowmap shadowmap;     // the frame's single shadow map
