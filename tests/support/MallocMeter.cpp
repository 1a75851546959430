#include "support/MallocMeter.h"

#include <atomic>
#include <cstddef>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PELLDRIN_METER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define PELLDRIN_METER_ASAN 1
#endif

#ifdef PELLDRIN_METER_ASAN
// The sanitizer's own interface (GCC ships no header for it).
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*, std::size_t),
                                              void (*freeHook)(const volatile void*));
std::size_t __sanitizer_get_allocated_size(const volatile void* p);
}
#endif

namespace pelldrin::test {

namespace {

std::atomic<std::int64_t> current{0};
std::atomic<std::int64_t> peak{0};

#ifdef PELLDRIN_METER_ASAN
void OnMalloc(const volatile void*, std::size_t size) {
    const std::int64_t now =
        current.fetch_add(static_cast<std::int64_t>(size)) + static_cast<std::int64_t>(size);
    std::int64_t seen = peak.load();
    while (now > seen && !peak.compare_exchange_weak(seen, now)) {
    }
}

// The hook runs before the block is released, so its size can still be asked.
void OnFree(const volatile void* p) {
    if (p != nullptr) {
        current.fetch_sub(static_cast<std::int64_t>(__sanitizer_get_allocated_size(p)));
    }
}

const int installed = __sanitizer_install_malloc_and_free_hooks(&OnMalloc, &OnFree);
#endif

} // namespace

bool MallocMeterAvailable() {
#ifdef PELLDRIN_METER_ASAN
    return installed != 0;
#else
    return false;
#endif
}

std::int64_t MallocCurrentBytes() {
    return current.load();
}

std::int64_t MallocResetPeak() {
    const std::int64_t now = current.load();
    peak.store(now);
    return now;
}

std::int64_t MallocPeakBytes() {
    return peak.load();
}

} // namespace pelldrin::test
