// st.h - the demo's small OpenGL toolkit
//
// What it does
//   Wraps the few GL objects the frame is built from, each in its own file:
//     st_shader        st::Shader        a program built from two GLSL files
//     st_vertexbuffer  st::Vertexbuffer  an indexed mesh with per-vertex and
//                                        per-instance float attribute arrays
//     st_shadowmap     st::Shadowmap     a 1024 x 1024 depth map and its pass
//     st_texture       loadTexture, makeBox
//     st_rendertarget  st::Rendertarget  an offscreen framebuffer (capture, tests)
//   After nearly every GL call the toolkit reads the GL error flag and reports
//   an error at once in a modal message box (platform::showMessageBox) whose
//   caption is "SOURCE::LINE:ERRORNAME"; execution then goes on. The line
//   numbers are fixed per call site: they are part of the messages.
//
// What it does not do
//   Failures are never returned to callers; nothing is retried except a failed
//   shader link. No GL object is deleted during the run (the shadow map
//   deletes its two at exit, while a context is current).
//
// Threads
//   Main thread only, with the GL context current. Message boxes block it.
//
// Units
//   Sizes of attribute arrays are counted in floats, GL buffer sizes in bytes.
#pragma once

#include "st/st_rendertarget.h"
#include "st/st_shader.h"
#include "st/st_shadowmap.h"
#include "st/st_texture.h"
#include "st/st_vertexbuffer.h"
