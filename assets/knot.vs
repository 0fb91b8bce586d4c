#version 330
// The voxel cubes: instance n is grid cell (n mod 64, (n / 64) mod 64, n / 4096),
// y up. An empty cell (value 0) collapses to a point outside the view, so its
// triangles are dropped before any pixel is shaded.

layout(location = 1) in vec3 position;  // cube corner, half extent 1
layout(location = 2) in vec3 normal;
layout(location = 3) in vec2 texcoord;
layout(location = 4) in float voxel;    // the cell's appearance index, 0 = empty

uniform mat4 mvp;
uniform mat4 model;

out vec3 worldPos;
out vec2 faceUv;
flat out int look;
flat out float height; // the cell's y, 0 (bottom) .. 1 (top)

const float SPACING = 1.4;    // world units from one cell to the next
const float CUBE_HALF = 0.62; // half extent of a drawn cube

void main() {
    look = int(voxel + 0.5);
    faceUv = texcoord;
    if (look == 0) {
        worldPos = vec3(0.0);
        height = 0.0;
        gl_Position = vec4(0.0, 0.0, 2.0, 1.0);
        return;
    }
    int n = gl_InstanceID;
    vec3 cell = vec3(float(n & 63), float((n >> 6) & 63), float(n >> 12));
    height = cell.y / 63.0;
    vec3 local = (cell - 31.5) * SPACING + position * CUBE_HALF;
    worldPos = (model * vec4(local, 1.0)).xyz;
    gl_Position = mvp * vec4(local, 1.0);
}
