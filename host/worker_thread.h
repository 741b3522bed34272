// Threads that take long scalar work off the windows' thread.
#pragma once

#include <functional>
#include <thread>

namespace tp {

// Marks the upper halves of this thread's vector registers unused (x86-64
// with AVX; nothing elsewhere). While they are in use, every SSE instruction
// of the thread waits to merge them: number and date conversions ran five
// times slower. A library's vector code can leave them so (the windows'
// thread after its first conversion of a session showed it), and a new
// thread starts with a copy of its creator's registers.
void clearUpperVectorState();

// A thread that clears that state, then does the work.
std::thread startWorkerThread(std::function<void()> work);

}  // namespace tp
