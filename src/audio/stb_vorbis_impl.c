// The one translation unit that holds stb_vorbis's implementation.
#include <stb/stb_vorbis.h>
