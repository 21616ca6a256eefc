// Throughput of the full servo tick of an Altura 6 DOF on the double parallel port (base and
// gimbal modules chained on one port) in lockstep pace, simulator included: update with
// six encoders and the pinch grip, read the position, send forces and torques to six
// motors, wait for the base module's next tick. One servo thread on one core should reach
// kMinTicksPerSecond; any failed call fails the program.
#include "KinetorServo.h"
#include "ServoBenchSetup.h"


namespace {

const double kMinTicksPerSecond = 200000.0;
const double kRunSeconds = 3.0;

// An Altura 1.5 6 DOF with a pinch grip, both modules on parallel-port unit 1.
const char kChainedArmBody[] =
    "p6\n"
    "8250, 8250\n"
    "DBLEPP\n"
    "0x378, 0\n"
    "1, 2\n"
    "0.076912, 0.090066, 0.090066, 1.000000, 1.000000, 1.000000\n"
    "114293, 114293, 114293, 1000000, 1000000, 1000000\n"
    "4000, 4000, 4000, 2000, 2000, 2000\n"
    "90, 90, 90, 15, 15, 15\n"
    "-1\n"
    "0.600000, 0.002000, 8.500000, 1.400000\n"
    "0.000000, 0.000000, 0.000000, 0.000000, 0.000000, 0.000000\n"
    "-390, 390, -168, 603, -112, 180\n"
    "-140, 140, -20, 440, -78, 78\n"
    "-78, 78, -7, 149, -78, 78\n"
    "34\n"
    "1\n";

bool WriteChainedArmConfiguration(const char* pszDir, const char* pszName)
{
    return WriteConfigurationFile(pszDir, pszName, kChainedArmBody);
}

}  // namespace

int main()
{
    const int nHandle = OpenSimulatedBenchArm("pace=lockstep,hand=hold", WriteChainedArmConfiguration);
    if (nHandle < 0)
        return 1;
    initOSExtender();
    printf("%-40s %12s %14s\n", "benchmark", "ticks", "ticks/s");
    SERVO_BENCH_STATE state;
    state.nHandle = nHandle;
    state.bWrench = true;
    RunServoBench("full tick, lockstep, double EPP 6 DOF", state, kRunSeconds, kMinTicksPerSecond);
    CloseSimulatedBenchArm(nHandle);
    return BenchExitStatus();
}
