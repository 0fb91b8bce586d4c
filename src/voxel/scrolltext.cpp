// scrolltext.cpp - the words that scroll through the grid.
#include "voxel/voxel.h"

namespace {
const char SCROLL_TEXT[] = "vROm 2022 ... ";
} // namespace

const char *scrolltext = SCROLL_TEXT;
