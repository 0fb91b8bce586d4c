// web.h - what only the web back end offers, for the web front end.
//
// The show's clock stops while the show is paused (a key release in the
// browser pauses and resumes, since a page cannot end itself).
//
// Threads: the page's one thread.
#pragma once

namespace platform::web {
void setPaused(bool aPaused);
bool paused();
} // namespace platform::web
