#version 330
// The voxel cubes as the light sees them: the same placement as knot.vs.

layout(location = 1) in vec3 position;
layout(location = 4) in float voxel;

uniform mat4 mvp;

const float SPACING = 1.4;
const float CUBE_HALF = 0.62;

void main() {
    if (voxel == 0.0) {
        gl_Position = vec4(0.0, 0.0, 2.0, 1.0);
        return;
    }
    int n = gl_InstanceID;
    vec3 cell = vec3(float(n & 63), float((n >> 6) & 63), float(n >> 12));
    gl_Position = mvp * vec4((cell - 31.5) * SPACING + position * CUBE_HALF, 1.0);
}
