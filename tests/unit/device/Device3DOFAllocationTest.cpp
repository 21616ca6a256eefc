// The servo tick of the 3-DOF model must not allocate: a counting replacement of the
// global allocation functions watches a few hundred ticks against the connection double.
#include <stdlib.h>

// GCC pairs the inlined replacement new with the free below and calls them mismatched; both
// sides are ours and use malloc/free, so the pairing is right.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

#include <atomic>
#include <new>

#include <gtest/gtest.h>

#include "unit/device/ConnectionDouble.h"
#include "device/KinetorAlturaADevice.h"

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

namespace {

// One servo tick of device-model work, in the order the library runs it.
int RunTick(CKinetor3DOFDevice& dev, _KINETOR_DEVICE_DATA& d, const float* afForce)
{
    int r = dev.FlushConnection();
    r |= dev.UpdateKinetorJointAngles();
    r |= dev.UpdateKinetorEndpointTransform();
    r |= dev.UpdateKinetorJacobian();
    r |= dev.CalculateKinetorVelocity(1);
    r |= dev.CalculateJointTorques(afForce, d.fJointTorques);
    r |= dev.CalculateMotorTorques(d.fJointTorques, d.fMotorTorques);
    r |= dev.WriteMotorTorques(true);
    d.nRuns++;
    return r;
}

TEST(Device3DOFAllocation, ServoTicksAllocateNothing)
{
    CModelHarness h;
    h.m_data.nExtra6DOFOption = 1;
    h.m_data.nPinchCalibrated = 1;
    h.m_data.nPinchMax = 1000;
    h.m_data.fFilterC0 = h.m_data.fFilterC1 = 0.1f;
    h.m_data.fFilterD1 = 0.8f;
    for (int k = 0; k < 3; k++)
        h.m_data.fSaturationTorques[k] = 200.0f;
    CKinetorAlturaADevice dev(h.m_szName, 4, 0, true, &h.m_data);
    ASSERT_EQ(0, dev.OpenConnection(2));
    const float afForce[6] = {0.5f, -1.0f, 2.0f, 0.0f, 0.0f, 0.0f};

    for (int pass = 0; pass < 2; pass++) {
        // The second pass runs with the cumulative budget.
        h.m_data.nAmpDACLimit = pass == 0 ? ~0UL : 20000UL;
        g_nAllocations = 0;
        g_bCountAllocations = true;
        int r = 0;
        for (int n = 0; n < 300; n++) {
            h.m_script.m_asBase[0] = (short)(n * 37);
            h.m_script.m_asBase[1] = (short)(-n * 91);
            h.m_script.m_asBase[2] = (short)(n * 1201);
            h.m_script.m_asGimbal[1] = (short)(n * 5);
            h.m_script.m_sPinch = (short)(n % 1000);
            r |= RunTick(dev, h.m_data, afForce);
        }
        g_bCountAllocations = false;
        EXPECT_EQ(0, r);
        EXPECT_EQ(0, g_nAllocations.load()) << "pass " << pass;
    }
    EXPECT_EQ(600, h.m_script.Calls(OP_WRITE_BASE));

    // The counter itself works: an allocation in the window is seen.
    g_nAllocations = 0;
    g_bCountAllocations = true;
    int* volatile pnEscaped = new int(3);
    g_bCountAllocations = false;
    delete pnEscaped;
    EXPECT_EQ(1, g_nAllocations.load());
}

}  // namespace

#endif
