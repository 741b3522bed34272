#include "host/worker_thread.h"

#include <utility>

namespace tp {

void clearUpperVectorState() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool hasAvx = __builtin_cpu_supports("avx");
    if (hasAvx) asm volatile("vzeroupper" ::: "memory");
#endif
}

std::thread startWorkerThread(std::function<void()> work) {
    return std::thread([work = std::move(work)] {
        clearUpperVectorState();
        work();
    });
}

}  // namespace tp
