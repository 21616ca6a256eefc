// Cost of one servo tick of 3-DOF device-model work against the connection double (the
// steps are listed in DeviceTickBench.h). The budget is 1 us a tick.
#include "DeviceTickBench.h"
#include "device/KinetorAlturaADevice.h"

namespace {

void RunTicks(benchmark::State& state, bool bCumulative)
{
    CModelHarness h;
    _KINETOR_DEVICE_DATA& d = h.m_data;
    d.fFilterC0 = d.fFilterC1 = 0.1f;
    d.fFilterD1 = 0.8f;
    for (int k = 0; k < 3; k++)
        d.fSaturationTorques[k] = 200.0f;
    d.nAmpDACLimit = bCumulative ? 20000UL : ~0UL;
    CKinetorAlturaADevice dev(h.m_szName, 4, 0, true, &d);
    if (!OpenForTicks(state, h, dev))
        return;
    const float afForce[6] = {0.5f, -1.0f, 2.0f, 0.0f, 0.0f, 0.0f};
    RunDeviceTicks(state, dev, h, afForce);
}

void BM_Device3DOFTick(benchmark::State& state)
{
    RunTicks(state, false);
}

void BM_Device3DOFTickCumulativeBudget(benchmark::State& state)
{
    RunTicks(state, true);
}

}  // namespace

BENCHMARK(BM_Device3DOFTick);
BENCHMARK(BM_Device3DOFTickCumulativeBudget);

int main(int argc, char** argv)
{
    return RunDeviceBenchmarks(argc, argv);
}
