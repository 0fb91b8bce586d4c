#version 330
// Depth only: the framebuffer has no colour to write.
void main() {}
