// lifetime.h - the program-lifetime objects
//
// Built before main in this order, and torn down by the C runtime at exit in
// the reverse order: the shadow map first (its GL objects go while a context
// may still be current), then the streams, then the engine that plays them.
#pragma once

#include "st/st_shadowmap.h"

// The single shadow map of the frame; its GL objects are made by initDemo.
extern st::Shadowmap shadowmap;
