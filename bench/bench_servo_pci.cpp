// Throughput of the full servo tick (update, read position, send force, wait for the next
// tick) of the demo arm moved onto the first simulated PCI card, in lockstep pace,
// simulator included: every counter read, DAC write and register request goes through the
// card's driver requests, and every tick wait through the card's readiness.
#include "KinetorServo.h"
#include "ServoBenchSetup.h"

#include <string.h>

#include <string>

namespace {

const double kMinTicksPerSecond = 200000.0;

// The demo configuration with its interface line and address line replaced: channel 0 of
// card 1, where the arm's gimbal encoders are read from counters 3..5.
bool WritePCIDemoConfiguration(const char* pszDir, const char* pszName)
{
    if (!WriteDemoConfiguration(pszDir, pszName))
        return false;
    char szPath[512];
    int n = snprintf(szPath, sizeof(szPath), "%s/Kinetor0.ini", pszDir);
    if (n < 0 || (size_t)n >= sizeof(szPath))
        return false;
    std::string strText;
    FILE* pFile = fopen(szPath, "r");
    if (!pFile)
        return false;
    int c;
    while ((c = fgetc(pFile)) != EOF)
        strText.push_back((char)c);
    fclose(pFile);
    const std::string strParallel = "\nEPP\n0x378, 0\n";
    size_t nAt = strText.find(strParallel);
    if (nAt == std::string::npos)
        return false;
    strText.replace(nAt, strParallel.size(), "\nPCI\n0, 0\n");
    pFile = fopen(szPath, "w");
    if (!pFile)
        return false;
    bool bOk = fputs(strText.c_str(), pFile) >= 0;
    return fclose(pFile) == 0 && bOk;
}

}  // namespace

int main()
{
    const int nHandle = OpenSimulatedBenchArm("pace=lockstep,hand=hold", WritePCIDemoConfiguration);
    if (nHandle < 0)
        return 1;
    initOSExtender();
    printf("%-40s %12s %14s\n", "benchmark", "ticks", "ticks/s");
    SERVO_BENCH_STATE state;
    state.nHandle = nHandle;
    state.bWrench = false;
    RunServoBench("full tick, lockstep, simulated PCI", state, 3.0, kMinTicksPerSecond);
    CloseSimulatedBenchArm(nHandle);
    return BenchExitStatus();
}
