// Throughput of the full servo tick (update, read position, send force, wait for the next
// frame) of a Cirrel on the simulated FireWire board in lockstep pace, simulator included,
// and the cost of decoding one encoder packet alone.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "BenchCheck.h"
#include "KinetorIO.h"
#include "KinetorServo.h"
#include "transport/firewire/ZanterConvert.h"

namespace {

const char kConfig[] =
    "bench\ncirrel\n5500, 5500\n1394\n0x0, 0\n0, 2\n0.076912, 0.090066, 0.090066, 1.000000\n114293\n"
    "4000, 2000\n8\n-1\n0.5, 0.002, 3.3, 0.88\n0, 0, 0, 0, 0, 0\n0, 0, 0\n"
    "-390, 390, -168, 603, -112, 180\n-140, 140, -20, 440, -78, 78\n-78, 78, -7, 149, -78, 78\n34\n"
    "1500, -2300, 1800, 400, -300, 0\n2071\n";

char g_szDir[] = "/tmp/kio-bench-fw-XXXXXX";

struct TICK_STATE {
    int nHandle;
    std::atomic<long> nTicks;
};

int FullTick(void* pData)
{
    TICK_STATE* pState = static_cast<TICK_STATE*>(pData);
    float afPos[3];
    if (!BenchExpect("update_kinetor", update_kinetor(pState->nHandle)) ||
        !BenchExpect("get_kinetor_pos", get_kinetor_pos(pState->nHandle, afPos)))
        return -1;
    float afForce[3] = {-0.01f * afPos[0], -0.01f * afPos[1], -0.01f * afPos[2]};
    // Until the inkwell has calibrated the arm and the forces are on, the tick only reads.
    if (is_kinetor_forces_enabled(pState->nHandle) == 1 &&
        !BenchExpect("send_kinetor_force", send_kinetor_force(pState->nHandle, afForce)))
        return -1;
    pState->nTicks.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void RemoveScratch()
{
    char szPath[256];
    const char* apszFiles[] = {"Kinetor0.ini", "KinetorCalibration(bench)", "KinetorTemperature(bench)"};
    for (const char* psz : apszFiles) {
        snprintf(szPath, sizeof(szPath), "%s/%s", g_szDir, psz);
        unlink(szPath);
    }
    rmdir(g_szDir);
}

bool TickThroughput()
{
    if (!mkdtemp(g_szDir)) {
        BenchFail("mkdtemp (errno)", errno);
        return false;
    }
    atexit(RemoveScratch);
    char szPath[256];
    snprintf(szPath, sizeof(szPath), "%s/Kinetor0.ini", g_szDir);
    FILE* f = fopen(szPath, "w");
    if (!f || fputs(kConfig, f) < 0 || fclose(f) != 0 || chdir(g_szDir) != 0) {
        BenchFail("writing the configuration", -1);
        return false;
    }
    setenv("KINETOR_CONFIG_FILES", g_szDir, 1);
    setenv("KINETOR_SIMULATOR", "pace=lockstep,hand=hold", 1);
    char szName[] = "bench";
    TICK_STATE state;
    state.nHandle = init_kinetor(szName);
    state.nTicks = 0;
    if (state.nHandle < 0) {
        BenchFail("init_kinetor", state.nHandle);
        return false;
    }
    initOSExtender();
    if (!BenchExpect("startServoLoop", startServoLoop(FullTick, &state)))
        return false;
    // Docked: the inkwell calibrates the arm in its first ticks; then forces go on.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    BenchExpect("update_calibration", update_calibration(state.nHandle));
    BenchExpect("enable_kinetor_forces", enable_kinetor_forces(state.nHandle));
    long nStart = state.nTicks.load();
    auto tStart = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    long nTicks = state.nTicks.load() - nStart;
    double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
    stopServoLoop();
    BenchExpect("disable_kinetor_forces", disable_kinetor_forces(state.nHandle));
    BenchExpect("disable_kinetor", disable_kinetor(state.nHandle));
    if (nTicks <= 0) {
        BenchFail("ticks run", nTicks);
        return false;
    }
    printf("%-48s %12.0f ticks/s\n", "full tick, lockstep, simulated FireWire", (double)nTicks / dSeconds);
    return true;
}

void DecodeCost()
{
    unsigned char auc[ZANTER_PACKET_SIZE];
    memset(auc, 0, sizeof(auc));
    auc[er_reg8_hi] = 0x15;
    auc[er_adc0_over_lo] = 0x10;
    auc[er_adc0_under_lo] = 0x20;
    auc[er_sig_lo] = 'F';
    auc[er_sig_hi] = 'W';
    const long nRuns = 5000000;
    _PORT_INPUT block;
    unsigned nSum = 0;
    auto tStart = std::chrono::steady_clock::now();
    for (long i = 0; i < nRuns; i++) {
        auc[er_quad0_lo] = (unsigned char)i;
        if (zanter_convert(auc, &block) != 0) {
            BenchFail("zanter_convert", -1);
            return;
        }
        nSum += block.usQuad0;
    }
    double dNs = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - tStart).count();
    if (nSum == 0)
        BenchFail("decoded encoders", 0);
    printf("%-48s %12.1f ns\n", "encoder packet decode", dNs / (double)nRuns);
}

}  // namespace

int main()
{
    DecodeCost();
    TickThroughput();
    return BenchExitStatus();
}
