// A counting replacement of the global allocation functions, for tests that prove a code
// path allocates nothing: set g_bCountAllocations around the path and read
// g_nAllocations. Include it in exactly one file of a test program (it defines the
// replacement functions); KIO_ALLOCATION_FUNCTIONS_TAKEN is defined instead where the
// build's runtime owns them, and such a test should skip.
#ifndef KIO_COUNTING_ALLOCATOR_H
#define KIO_COUNTING_ALLOCATOR_H

#include <stdlib.h>

#include <atomic>
#include <cstddef>
#include <new>

// GCC pairs the inlined replacement new with the free below and calls them mismatched; both
// sides are ours and use malloc/free, so the pairing is right.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

// The thread sanitizer brings its own allocation functions, which cannot be replaced a
// second time; that build runs without this check (the others keep it).
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KIO_ALLOCATION_FUNCTIONS_TAKEN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define KIO_ALLOCATION_FUNCTIONS_TAKEN 1
#endif

#ifndef KIO_ALLOCATION_FUNCTIONS_TAKEN
namespace {

std::atomic<bool> g_bCountAllocations(false);
std::atomic<long> g_nAllocations(0);

void* CountedAllocation(std::size_t nSize)
{
    if (g_bCountAllocations.load(std::memory_order_relaxed))
        g_nAllocations.fetch_add(1, std::memory_order_relaxed);
    return malloc(nSize != 0 ? nSize : 1);
}

}  // namespace

void* operator new(std::size_t nSize)
{
    void* p = CountedAllocation(nSize);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

void* operator new[](std::size_t nSize)
{
    void* p = CountedAllocation(nSize);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

void* operator new(std::size_t nSize, const std::nothrow_t&) noexcept
{
    return CountedAllocation(nSize);
}

void* operator new[](std::size_t nSize, const std::nothrow_t&) noexcept
{
    return CountedAllocation(nSize);
}

void operator delete(void* p) noexcept
{
    free(p);
}

void operator delete[](void* p) noexcept
{
    free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    free(p);
}

#endif  // KIO_ALLOCATION_FUNCTIONS_TAKEN

#endif
