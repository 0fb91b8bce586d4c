#version 330
// The flying boxes.

layout(location = 1) in vec3 position;
layout(location = 3) in vec2 texcoord;

uniform mat4 mvp;

out vec2 uv;
out vec3 objectPos;
out float viewDistance;

void main() {
    uv = texcoord;
    objectPos = position;
    gl_Position = mvp * vec4(position, 1.0);
    viewDistance = gl_Position.w;
}
