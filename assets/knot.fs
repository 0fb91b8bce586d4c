#version 330
// Lit, shadowed voxel cubes: a tile of the sprite atlas per appearance index,
// tinted by a palette; a point light at "lightpos" with a 3 x 3 filtered
// shadow lookup, plus a soft sky light so the undersides never go black.

in vec3 worldPos;
in vec2 faceUv;
flat in int look;
flat in float height;

uniform sampler2D tex;        // the sprite atlas, 8 x 4 tiles
uniform sampler2D shadowmap;  // the light's depth
uniform mat4 shadowmatrix;    // world -> shadow map texture space
uniform vec4 lightpos;        // world position of the light, w = 1

out vec4 color;

vec3 hsv(float h, float s, float v) {
    vec3 k = clamp(abs(fract(h + vec3(0.0, 2.0 / 3.0, 1.0 / 3.0)) * 6.0 - 3.0) - 1.0, 0.0, 1.0);
    return v * mix(vec3(1.0), k, s);
}

// Each index its own hue, drifting with the cell's height so that scenes of a
// single index still read in depth; index 4 is the scroll text's gold.
vec3 palette(int index) {
    if (index == 4) return vec3(1.0, 0.84, 0.45);
    return hsv(0.55 + 0.071 * float(index) - 0.22 * height, 0.58, 1.0);
}

float shadowFactor(vec3 n) {
    // Look up from a point pushed off the face, so faces never shadow themselves.
    vec4 sc = shadowmatrix * vec4(worldPos + n * 0.35, 1.0);
    if (sc.w <= 0.0) return 1.0;
    vec3 p = sc.xyz / sc.w;
    if (any(lessThan(p, vec3(0.0))) || any(greaterThan(p, vec3(1.0)))) return 1.0;
    vec2 texel = 1.0 / vec2(textureSize(shadowmap, 0));
    float lit = 0.0;
    for (int y = -1; y <= 1; ++y)
        for (int x = -1; x <= 1; ++x)
            lit += p.z - 0.00002 <= texture(shadowmap, p.xy + vec2(x, y) * texel).r ? 1.0 : 0.0;
    return lit / 9.0;
}

void main() {
    vec3 n = normalize(cross(dFdx(worldPos), dFdy(worldPos)));
    vec3 toLight = lightpos.xyz - worldPos;
    vec3 l = normalize(toLight);
    float diffuse = max(dot(n, l) * 0.85 + 0.15, 0.0) * shadowFactor(n);

    int tile = (look - 1) & 31;
    vec2 uv = (vec2(float(tile & 7), float(tile >> 3)) + mix(vec2(0.06), vec2(0.94), faceUv)) / vec2(8.0, 4.0);
    vec3 base = palette(look) * texture(tex, uv).rgb;

    // Diffuse and sky light only: the cubes are matte, so the picture does not
    // depend on where the camera is.
    float sky = 0.42 + 0.22 * n.y;
    vec3 lit = base * (sky + 0.95 * diffuse);
    if (look == 4) lit += base * 0.25; // the text glows a little
    color = vec4(lit, 1.0);
}
