// A counting replacement of the allocation functions, for tests that prove a code path
// allocates nothing: set g_bCountAllocations around the path and read g_nAllocations.
// Both C++ (operator new) and C (malloc, calloc, realloc) allocations are counted, since a
// servo path that calls malloc blocks just as one that calls new. Include it in exactly
// one file of a test program (it defines the replacement functions).
// KIO_ALLOCATION_FUNCTIONS_TAKEN is defined instead where the build's runtime owns all of
// them, and such a test should skip; KIO_C_ALLOCATION_FUNCTIONS_TAKEN where only the C
// functions belong to the runtime, and then only operator new is counted.
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
// The address sanitizer intercepts malloc and its kin and keeps its own heap: memory from
// glibc's heap handed to it would be reported as a bad free. Its operator new can still be
// replaced, so that build counts C++ allocations only.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KIO_C_ALLOCATION_FUNCTIONS_TAKEN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KIO_C_ALLOCATION_FUNCTIONS_TAKEN 1
#endif

#ifndef KIO_ALLOCATION_FUNCTIONS_TAKEN
namespace {

std::atomic<bool> g_bCountAllocations(false);
std::atomic<long> g_nAllocations(0);

inline void CountAllocation()
{
    if (g_bCountAllocations.load(std::memory_order_relaxed))
        g_nAllocations.fetch_add(1, std::memory_order_relaxed);
}

void* CountedAllocation(std::size_t nSize)
{
#ifdef KIO_C_ALLOCATION_FUNCTIONS_TAKEN
    CountAllocation();
#endif
    // Otherwise the malloc below is the counted one; counting here too would count twice.
    return malloc(nSize != 0 ? nSize : 1);
}

}  // namespace

#ifndef KIO_C_ALLOCATION_FUNCTIONS_TAKEN
// glibc's own entry points of its allocator: the definitions below take the public names
// for the whole process (libraries included) and hand the work on, so memory from either
// side may be freed by the other.
extern "C" {
void* __libc_malloc(size_t nSize);
void* __libc_calloc(size_t nCount, size_t nSize);
void* __libc_realloc(void* p, size_t nSize);
void __libc_free(void* p);

void* malloc(size_t nSize) noexcept
{
    CountAllocation();
    return __libc_malloc(nSize);
}

void* calloc(size_t nCount, size_t nSize) noexcept
{
    CountAllocation();
    return __libc_calloc(nCount, nSize);
}

void* realloc(void* p, size_t nSize) noexcept
{
    CountAllocation();
    return __libc_realloc(p, nSize);
}

void free(void* p) noexcept
{
    __libc_free(p);
}
}
#endif  // KIO_C_ALLOCATION_FUNCTIONS_TAKEN

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
