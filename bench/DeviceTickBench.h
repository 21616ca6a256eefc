// One servo tick of device-model work against the connection double, as the library runs
// it: the block exchange (flush), encoders to joint angles and velocities, the stylus
// frame, the Jacobian, the Cartesian velocity, force to joint and motor torques, the
// torque check and the DAC words. The 3-DOF and 6-DOF benchmarks both run this one loop,
// so their figures differ by the model only.
#ifndef DEVICE_TICK_BENCH_H
#define DEVICE_TICK_BENCH_H

#include <benchmark/benchmark.h>
#include <stdint.h>

#include "BenchCheck.h"
#include "device/HapticDevice.h"
#include "unit/device/ConnectionDouble.h"

// A 16-bit encoder reading that moves by nStep counts a tick. The tick counter is unsigned
// and the product is cut to 16 bits, as the hardware counters wrap, so a long run neither
// overflows nor stops moving.
inline SHORT SweptReading(uint32_t nTick, int nStep)
{
    const uint32_t n = (nTick * (uint32_t)nStep) & 0xFFFFu;
    return (SHORT)(n >= 0x8000u ? (int32_t)n - 0x10000 : (int32_t)n);
}

// False, with the benchmark marked failed, when a step of the tick did not return 0.
inline bool TickStep(benchmark::State& state, const char* pszWhat, int nResult)
{
    if (BenchExpect(pszWhat, nResult))
        return true;
    state.SkipWithError(pszWhat);
    return false;
}

// Runs the timed ticks of a device already opened against h's connection double.
inline void RunDeviceTicks(benchmark::State& state, CHapticDevice& dev, CModelHarness& h,
                           const float* afForce)
{
    _KINETOR_DEVICE_DATA& d = h.m_data;
    uint32_t nTick = 0;
    for (auto _ : state) {
        // The arm moves slowly on every axis, within the gimbal's speed limit.
        for (int i = 0; i < 3; i++) {
            h.m_script.m_asBase[i] = SweptReading(nTick, i + 1);
            h.m_script.m_asGimbal[i] = SweptReading(nTick, -(i + 2));
        }
        nTick++;
        const bool bOk =
            TickStep(state, "FlushConnection", dev.FlushConnection()) &&
            TickStep(state, "UpdateKinetorJointAngles", dev.UpdateKinetorJointAngles()) &&
            TickStep(state, "UpdateKinetorEndpointTransform", dev.UpdateKinetorEndpointTransform()) &&
            TickStep(state, "UpdateKinetorJacobian", dev.UpdateKinetorJacobian()) &&
            TickStep(state, "CalculateKinetorVelocity", dev.CalculateKinetorVelocity(1)) &&
            TickStep(state, "CalculateJointTorques", dev.CalculateJointTorques(afForce, d.fJointTorques)) &&
            TickStep(state, "CalculateMotorTorques", dev.CalculateMotorTorques(d.fJointTorques, d.fMotorTorques)) &&
            TickStep(state, "WriteMotorTorques", dev.WriteMotorTorques(true));
        if (!bOk)
            break;
        // The library counts its updates; held at a bound so that a long run cannot overflow.
        if (d.nRuns < 1000)
            d.nRuns++;
        benchmark::DoNotOptimize(d.nMotorDACValues);
        benchmark::ClobberMemory();
    }
}

// Opens dev against the double, or marks the benchmark failed and returns false.
inline bool OpenForTicks(benchmark::State& state, CModelHarness& h, CHapticDevice& dev)
{
    if (!h.m_dirs.Ok()) {
        BenchFail("scratch directories", -1);
        state.SkipWithError("scratch directories");
        return false;
    }
    return TickStep(state, "OpenConnection", dev.OpenConnection(2));
}

// Runs the registered benchmarks; the exit status says whether every one measured its path.
inline int RunDeviceBenchmarks(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return BenchExitStatus();
}

#endif
