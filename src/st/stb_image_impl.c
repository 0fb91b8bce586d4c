// The one translation unit that holds stb_image's implementation.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO_DEPRECATION
#include <stb/stb_image.h>
