// Worker threads of the station (receive threads, ready workers, download threads) run a little
// below normal priority, so eight busy ports never make the window sluggish.
#pragma once

namespace tarvo {

// Lowers the calling thread's scheduling priority by two steps (nice +2). Best effort: a failure
// is ignored, the thread runs on at its priority.
void LowerThreadPriority();

}  // namespace tarvo
