// Cost of one servo tick of 6-DOF device-model work against the connection double: the
// same steps as the 3-DOF tick (DeviceTickBench.h), with the gimbal's three axes.
#include "DeviceTickBench.h"
#include "device/Kinetor6DOFDevice.h"

namespace {

void BM_Device6DOFTick(benchmark::State& state)
{
    CModelHarness h;
    _KINETOR_DEVICE_DATA& d = h.m_data;
    d.bIs6DOF = 1;
    d.fL1 = d.fL2 = 18000 * 0.0254f;
    d.fFilterC0 = 0.2f;
    d.fFilterC1 = 0.2f;
    d.fFilterD1 = 0.6f;
    d.nAmpDACLimit = 60000;
    for (int k = 0; k < 6; k++) {
        d.fTtm[k] = 114.293f;
        d.fMaxMotorTorques[k] = k < 3 ? 1070.0f : 66.9f;
    }
    CKinetor6DOFDevice dev(h.m_szName, 4, 0, true, &d);
    if (!OpenForTicks(state, h, dev))
        return;
    const float afForce[6] = {0.5f, -0.3f, 0.2f, 0.01f, -0.02f, 0.005f};
    RunDeviceTicks(state, dev, h, afForce);
}

}  // namespace

BENCHMARK(BM_Device6DOFTick);

int main(int argc, char** argv)
{
    return RunDeviceBenchmarks(argc, argv);
}
