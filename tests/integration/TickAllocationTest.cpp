// A servo tick through the whole library (update, read the pose, send a force, wait for the
// next tick) on the simulated parallel port must not allocate: allocation can block, and a
// tick that blocks misses its period.
#include "SimFixture.h"

#include "support/CountingAllocator.h"

namespace {

class TickAllocation : public CSimFixture {};

TEST_F(TickAllocation, FullTickOnTheParallelPortAllocatesNothing)
{
#ifdef KIO_ALLOCATION_FUNCTIONS_TAKEN
    GTEST_SKIP() << "this build's runtime owns the allocation functions";
#else
    for (int nModel : {1, 3, 4}) {
        SCOPED_TRACE(nModel);
        int h = OpenSimulatedArm(nModel, 2, "hold");
        ASSERT_GE(h, 0);
        if (is_kinetor_reset_supported(h) == 1) {
            ASSERT_EQ(0, HomeAltura());
        }
        ASSERT_EQ(0, enable_kinetor_forces(h));
        ASSERT_EQ(0, RunTicks(20));  // first-use work (filters, ramps) happens here

        g_nAllocations = 0;
        g_bCountAllocations = true;
        int r = RunTicksWith(300, [h](int n) {
            float afPos[3], afVel[3];
            get_kinetor_pos(h, afPos);
            get_kinetor_vel(h, afVel);
            float afForce[3] = {0.002f * static_cast<float>(n % 50), -0.5f, 0.25f};
            return send_kinetor_force(h, afForce);
        });
        g_bCountAllocations = false;
        EXPECT_EQ(0, r);
        EXPECT_EQ(0, g_nAllocations.load());
        ASSERT_EQ(0, CloseDevice(h));
    }

    // The counter sees an allocation made inside the window.
    g_nAllocations = 0;
    g_bCountAllocations = true;
    int* volatile pnEscaped = new int(7);
    g_bCountAllocations = false;
    delete pnEscaped;
    EXPECT_EQ(1, g_nAllocations.load());
#endif
}

}  // namespace
