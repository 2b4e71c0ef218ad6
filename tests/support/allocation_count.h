// Replaces the global allocator of the test binary that includes this header
// (from one file only) to count what one thread allocates while counting is on.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

namespace allocationcount {

inline std::atomic<bool> on{false};
inline std::atomic<unsigned> made{0};
inline std::atomic<std::thread::id> counted{};  // the thread whose allocations count

inline void* allocate(std::size_t size) {
    if (on.load() && std::this_thread::get_id() == counted.load()) ++made;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

}  // namespace allocationcount

void* operator new(std::size_t size) { return allocationcount::allocate(size); }
void* operator new[](std::size_t size) { return allocationcount::allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
