// mat4.cpp - column-major matrix helpers (see mat4.h).
#include "math/mat4.h"

#include <cmath>
#include <cstring>

float *mat4_mul(float *out, const float *a, const float *b) {
    for (int i = 0; i < 4; ++i) {         // column of out and of b
        for (int j = 0; j < 4; ++j) {     // row of out and of a
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) sum += a[4 * k + j] * b[4 * i + k];
            out[4 * i + j] = sum;
        }
    }
    return out;
}

namespace {
float length3(const float *v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }
float dot3(const float *a, const float *b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
} // namespace

float *mat4_lookat(float *out, const float *eye, const float *center, const float *up) {
    float f[3] = {center[0] - eye[0], center[1] - eye[1], center[2] - eye[2]};
    const float fScale = 1.0f / length3(f);
    for (float &c : f) c *= fScale;

    float s[3] = {f[1] * up[2] - f[2] * up[1], f[2] * up[0] - f[0] * up[2], f[0] * up[1] - f[1] * up[0]};
    const float sScale = 1.0f / length3(s);
    for (float &c : s) c *= sScale;

    // u is unit length already (s and f are orthonormal); it is not normalised again.
    const float u[3] = {s[1] * f[2] - s[2] * f[1], s[2] * f[0] - s[0] * f[2], s[0] * f[1] - s[1] * f[0]};

    for (int c = 0; c < 3; ++c) {
        out[4 * c + 0] = s[c];
        out[4 * c + 1] = u[c];
        out[4 * c + 2] = -f[c];
        out[4 * c + 3] = 0.0f;
    }
    out[12] = -dot3(s, eye);
    out[13] = -dot3(u, eye);
    out[14] = dot3(f, eye);
    out[15] = 1.0f;
    return out;
}

float *mat4_rotate(float *out, const float *m, float angle, const float *axis) {
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    const float C = 1.0f - c;
    const float scale = 1.0f / length3(axis);
    const float x = axis[0] * scale, y = axis[1] * scale, z = axis[2] * scale;

    // R by rows.
    const float r[3][3] = {
        {x * x * C + c, x * y * C - z * s, x * z * C + y * s},
        {y * x * C + z * s, y * y * C + c, y * z * C - x * s},
        {z * x * C - y * s, z * y * C + x * s, z * z * C + c},
    };
    for (int j = 0; j < 3; ++j) {
        for (int row = 0; row < 4; ++row) {
            out[4 * j + row] = m[row] * r[0][j] + m[4 + row] * r[1][j] + m[8 + row] * r[2][j];
        }
    }
    for (int row = 0; row < 4; ++row) out[12 + row] = m[12 + row];
    return out;
}

float *mat4_perspective(float *out, float tanHalfFov, float aspect) {
    std::memset(out, 0, 16 * sizeof(float));
    out[0] = 1.0f / (aspect * tanHalfFov);
    out[5] = 1.0f / tanHalfFov;
    out[10] = mat4::DEPTH_SCALE;
    out[11] = -1.0f;
    out[14] = mat4::DEPTH_OFFSET;
    return out;
}

float *mat4_identity(float *out) {
    std::memset(out, 0, 16 * sizeof(float));
    out[0] = out[5] = out[10] = out[15] = 1.0f;
    return out;
}

float *mat4_translation(float *out, float x, float y, float z) {
    mat4_identity(out);
    out[12] = x;
    out[13] = y;
    out[14] = z;
    return out;
}
