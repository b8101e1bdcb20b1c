// Worker threads of the station (receive threads, ready workers, download threads) run a little
// below normal priority, so eight busy ports never make the window sluggish.
#pragma once

namespace tarvo {

// Lowers the calling thread's scheduling priority by two steps (nice +2). Best effort: a failure
// is ignored, the thread runs on at its priority.
void LowerThreadPriority();

// Names the calling thread (at most 15 characters are kept), so `top -H`, `ps -L` and a debugger
// tell the receive threads and workers of the station apart. Best effort, like the above.
void NameThisThread(const char* name);

}  // namespace tarvo
