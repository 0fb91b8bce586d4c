#version 330
// The flying boxes: the mosaic, a fixed key light from above, and a fade into
// the dark with distance.

in vec2 uv;
in vec3 objectPos;
in float viewDistance;

uniform sampler2D tex; // unit 0: the mosaic

out vec4 color;

void main() {
    vec3 n = normalize(cross(dFdx(objectPos), dFdy(objectPos)));
    float light = 0.45 + 0.55 * max(dot(n, normalize(vec3(0.35, 0.85, 0.4))), 0.0);
    vec3 c = texture(tex, uv).rgb * light;
    float fog = smoothstep(220.0, 900.0, viewDistance);
    color = vec4(mix(c, vec3(0.13, 0.13, 0.16), fog), 1.0);
}
