// The servo tick of the 3-DOF model must not allocate: a counting replacement of the
// allocation functions (operator new and the C ones) watches a few hundred ticks against
// the connection double.
#include <stdlib.h>

#include <atomic>
#include <new>

#include <gtest/gtest.h>

#include "unit/device/ConnectionDouble.h"
#include "device/KinetorAlturaADevice.h"

#include "support/CountingAllocator.h"

#ifndef KIO_ALLOCATION_FUNCTIONS_TAKEN
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
}

// The counter itself works: every kind of allocation made in the window is seen once.
TEST(CountingAllocator, SeesNewMallocCallocAndReallocInTheWindow)
{
    g_nAllocations = 0;
    g_bCountAllocations = true;
    int* volatile pnEscaped = new int(3);
    g_bCountAllocations = false;
    delete pnEscaped;
    EXPECT_EQ(1, g_nAllocations.load());

#ifdef KIO_C_ALLOCATION_FUNCTIONS_TAKEN
    GTEST_SKIP() << "this build's runtime owns malloc, calloc and realloc";
#else
    // Volatile so that the compiler cannot drop an allocation whose memory goes unused.
    void* volatile pMalloc = nullptr;
    void* volatile pCalloc = nullptr;
    void* volatile pRealloc = nullptr;
    g_nAllocations = 0;
    g_bCountAllocations = true;
    pMalloc = malloc(24);
    pCalloc = calloc(3, 8);
    pRealloc = realloc(pMalloc, 4096);
    g_bCountAllocations = false;
    ASSERT_NE(nullptr, pRealloc);
    ASSERT_NE(nullptr, pCalloc);
    free(pRealloc);
    free(pCalloc);
    EXPECT_EQ(3, g_nAllocations.load());
#endif
}

}  // namespace

#endif
