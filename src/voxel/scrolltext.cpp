// scrolltext.cpp - the words that scroll through the grid.
//
// 2035 characters of printable ASCII (codes 32 to 122, which the font sheet
// holds), shown in a loop; the trailing spaces leave a gap before it repeats.
#include "voxel/voxel.h"

namespace {
const char SCROLL_TEXT[] =
    "vROm 2022 ... welcome to a small world of cubes. Everything you see is a grid of sixty-fou"
    "r by sixty-four by sixty-four cells, rebuilt by the processor on every single frame and dr"
    "awn as two hundred and sixty-two thousand instanced cubes, with a shadow map on top. No me"
    "shes were harmed in the making of this show: there are none, only numbers in a box. ... Fi"
    "rst come the worms: thirty-two random walkers that never turn back, shown sixty-four steps"
    " ahead so their trails crawl forward one cell per frame. Then a quintic map folds space th"
    "ree times and keeps the cells whose coordinates cancel out. A landscape of nine travelling"
    " sines rolls past, followed by a stack of Julia sets, one layer per slice, breathing as th"
    "e constant drifts. Five blobs chase each other through the grid, and a twisted cubic map c"
    "loses the circle before it all begins again. ... The music is our own as well: two tracks "
    "in the same key and tempo, a melody and a slow pad, mixed by a little engine that resample"
    "s, ramps every gain across the block so nothing ever clicks, and rounds the peaks off gent"
    "ly instead of clipping them. The two voices cross-fade forever, and the colour of the sky "
    "follows whichever one is louder. ... Some facts for the curious: the show clock runs at th"
    "ree quarters of real time, each scene lasts twenty thousand units, the fades are spheres g"
    "rowing from the centre, and this text moves one column every thirty-one units, however fas"
    "t your machine draws. The font is eight by sixteen pixels, and every lit pixel is a cube. "
    "... Greetings to everyone who still writes code for the joy of it, to the people who keep "
    "old machines running, to the ones who share their tricks, and to you for watching this far"
    ". Build it, read it, change it: every number in here is written down and explained. ... Ma"
    "de with a text editor, a compiler, two cores and too much coffee. Press any key to leave, "
    "or stay a while longer and watch the cubes dance. The scroller will now wrap around ...   "
    "                                                       ";
static_assert(sizeof SCROLL_TEXT == 2035 + 1, "the scroll text is 2035 characters");
} // namespace

const char *scrolltext = SCROLL_TEXT;
