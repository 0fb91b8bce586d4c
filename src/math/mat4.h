// mat4.h - column-major 4 x 4 matrices for the frame and the shadow map
//
// What it does
//   A handful of single-precision helpers in the layout OpenGL expects, so
//   every matrix can go to glUniformMatrix4fv with transpose off:
//     element (row r, column c) is m[4*c + r]; translation sits in 12, 13, 14.
//   Points are column vectors multiplied on the right, so in mat4_mul(out, A, B)
//   B acts first, and a camera's model-view-projection is P * V * M.
//
// What it does not do
//   No matrix class, no vector library, no matrix stack, no checks: degenerate
//   input (eye == center, up parallel to the view, a zero axis) divides by a
//   zero length and gives non-finite matrices.
//
// Threads: plain functions on caller-owned arrays; any thread.
// Units: angles in radians; distances in world units.
#pragma once

namespace mat4 {
// Near and far planes of every projection the demo builds, in world units.
inline constexpr float NEAR_PLANE = 1.0f;
inline constexpr float FAR_PLANE = 1000.0f;
// -(far + near) / (far - near) and -2 far near / (far - near), stored as the
// nearest floats (bits 0xBF80419A and 0xC00020CD), not computed.
inline constexpr float DEPTH_SCALE = -1.002002f;
inline constexpr float DEPTH_OFFSET = -2.002002f;
} // namespace mat4

// out = a * b. out must be distinct from a and b. Returns out.
float *mat4_mul(float *out, const float *a, const float *b);

// View matrix of a camera at eye looking at center, with up as the rough up
// direction. Returns out.
float *mat4_lookat(float *out, const float *eye, const float *center, const float *up);

// out = m * R, where R turns by angle (radians, right-hand rule) about axis
// (any length but zero). out must be distinct from m. Returns out.
float *mat4_rotate(float *out, const float *m, float angle, const float *axis);

// The perspective layout: tanHalfFov is the tangent of half the vertical field
// of view, aspect is width / height. Near plane 1, far plane 1000. Returns out.
float *mat4_perspective(float *out, float tanHalfFov, float aspect);

// The identity. Returns out.
float *mat4_identity(float *out);

// A translation by (x, y, z). Returns out.
float *mat4_translation(float *out, float x, float y, float z);
