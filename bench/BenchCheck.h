// How every benchmark treats a result it cannot accept: a figure taken on a path that
// failed (a refused torque, a device that did not open, a servo loop that stopped) is
// cheaper than the real one and would be read as good news. So the failure is printed as
// one line on stderr naming the call and its code, and the program ends with a failure
// status instead of a table.
#ifndef BENCH_CHECK_H
#define BENCH_CHECK_H

#include <atomic>
#include <cstdio>

// Failures seen so far in this process; the servo thread may add to it.
inline std::atomic<int>& BenchFailureCount()
{
    static std::atomic<int> s_nFailures(0);
    return s_nFailures;
}

// Records that pszWhat gave nCode where something else was needed.
inline void BenchFail(const char* pszWhat, long nCode)
{
    fprintf(stderr, "kinetor bench: FAILED: %s returned %ld\n", pszWhat, nCode);
    BenchFailureCount().fetch_add(1);
}

// True when nResult is nExpected; otherwise records the failure.
inline bool BenchExpect(const char* pszWhat, long nResult, long nExpected = 0)
{
    if (nResult == nExpected)
        return true;
    BenchFail(pszWhat, nResult);
    return false;
}

// The exit status of a benchmark program: non-zero once anything failed.
inline int BenchExitStatus()
{
    return BenchFailureCount().load() == 0 ? 0 : 1;
}

#endif
