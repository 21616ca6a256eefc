// One servo tick of 6-DOF device-model work against the scripted connection: encoders to
// joint angles and velocities, the stylus frame, the Jacobian, the Cartesian velocity,
// force to joint and motor torques, the torque check and the six DAC words.
#include <benchmark/benchmark.h>

#include "device/Kinetor6DOFDevice.h"
#include "unit/device/ConnectionDouble.h"

namespace {

char g_szName[] = "bench 6dof";

void BM_Device6DOFTick(benchmark::State& state)
{
    CConnectionScript script;
    CConnectionDoubleScope scope(&script);
    _KINETOR_DEVICE_DATA data;
    FillDefaultDeviceData(data);
    data.bIs6DOF = 1;
    data.fL1 = data.fL2 = 18000 * 0.0254f;
    data.fFilterC0 = 0.2f;
    data.fFilterC1 = 0.2f;
    data.fFilterD1 = 0.6f;
    data.nAmpDACLimit = 60000;
    for (int k = 0; k < 6; k++) {
        data.fTtm[k] = 114.293f;
        data.fMaxMotorTorques[k] = k < 3 ? 1070.0f : 66.9f;
    }

    CKinetor6DOFDevice device(g_szName, 4, 0, true, &data);
    if (device.OpenConnection(2) != 0) {
        state.SkipWithError("could not open the model against the connection double");
        return;
    }

    float afForce[6] = {0.5f, -0.3f, 0.2f, 0.01f, -0.02f, 0.005f};
    int nTick = 0;
    int nResult = 0;
    for (auto _ : state) {
        // The arm moves a little every tick.
        for (int i = 0; i < 3; i++) {
            script.m_asBase[i] = (SHORT)(nTick * (i + 1));
            script.m_asGimbal[i] = (SHORT)(nTick * (i + 2));
        }
        data.nRuns = nTick < 1000 ? nTick : 1000;
        nTick++;

        device.UpdateKinetorJointAngles();
        device.UpdateKinetorEndpointTransform();
        device.UpdateKinetorJacobian();
        device.CalculateKinetorVelocity(1);
        device.CalculateJointTorques(afForce, data.fJointTorques);
        device.CalculateMotorTorques(data.fJointTorques, data.fMotorTorques);
        nResult = device.WriteMotorTorques(true);
        benchmark::DoNotOptimize(data.nMotorDACValues);
        benchmark::ClobberMemory();
    }
    // A refused torque would skip the DAC words and make the tick look cheaper than it is.
    if (nResult != 0)
        state.SkipWithError("the torque check refused the benchmark's force");
}
BENCHMARK(BM_Device6DOFTick);

}  // namespace

BENCHMARK_MAIN();
