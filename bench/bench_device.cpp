// Cost of one servo tick of 3-DOF device-model work against the connection double:
// encoders to joint angles and velocities, stylus frame, Jacobian, Cartesian velocity,
// force to joint and motor torques, torque check, DAC words. The budget is 1 us a tick.
#include <benchmark/benchmark.h>

#include "device/KinetorAlturaADevice.h"
#include "unit/device/ConnectionDouble.h"

namespace {

void PrepareData(_KINETOR_DEVICE_DATA& d, bool bCumulative)
{
    d.fFilterC0 = d.fFilterC1 = 0.1f;
    d.fFilterD1 = 0.8f;
    d.nRuns = 3;
    for (int k = 0; k < 3; k++)
        d.fSaturationTorques[k] = 200.0f;
    d.nAmpDACLimit = bCumulative ? 20000UL : ~0UL;
}

void RunTicks(benchmark::State& state, bool bCumulative)
{
    CModelHarness h;
    PrepareData(h.m_data, bCumulative);
    CKinetorAlturaADevice dev(h.m_szName, 4, 0, true, &h.m_data);
    if (dev.OpenConnection(2) != 0) {
        state.SkipWithError("OpenConnection failed");
        return;
    }
    _KINETOR_DEVICE_DATA& d = h.m_data;
    const float afForce[6] = {0.5f, -1.0f, 2.0f, 0.0f, 0.0f, 0.0f};
    int n = 0;
    for (auto _ : state) {
        h.m_script.m_asBase[0] = (short)(n * 37);
        h.m_script.m_asBase[1] = (short)(-n * 91);
        h.m_script.m_asBase[2] = (short)(n * 1201);
        n++;
        int r = dev.FlushConnection();
        r |= dev.UpdateKinetorJointAngles();
        r |= dev.UpdateKinetorEndpointTransform();
        r |= dev.UpdateKinetorJacobian();
        r |= dev.CalculateKinetorVelocity(1);
        r |= dev.CalculateJointTorques(afForce, d.fJointTorques);
        r |= dev.CalculateMotorTorques(d.fJointTorques, d.fMotorTorques);
        r |= dev.WriteMotorTorques(true);
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
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

BENCHMARK_MAIN();
