// kinetor-demo: a haptic application run against a Kinetor arm. Without arguments it
// sets up a simulated arm of its own; given a configuration name it uses that device.
#include "KinetorIO.h"
#include "KinetorServo.h"
#include "KinetorStats.h"
#include "DemoConfiguration.h"
#include "DemoOptions.h"
#include "DemoStatus.h"
#include "Report.h"
#include "Scene.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <signal.h>
#include <string>
#include <unistd.h>

namespace {

struct DemoContext {
    int nHandle;
    SCENE_PARAMS scene;
    bool bSceneReady;
    double dStart;
    double dLast;
    CDemoRecorder* pRecorder;
    CDemoStatus* pStatus;
    unsigned nTick;
    std::atomic<int> nUpdateErrors;
    std::atomic<int> nLastError;
};

// The status line is redrawn ten times a second; fifty snapshots a second keep it current
// without reading the temperatures on every tick.
const unsigned kStatusEveryTicks = 20;

double MonotonicSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The servo tick: read the arm, compute the scene, send the force, record. Nothing here
// allocates or blocks, so the tick keeps its period.
int ServoTick(void* pData)
{
    DemoContext* pCtx = static_cast<DemoContext*>(pData);
    double dNow = MonotonicSeconds();
    int r = update_kinetor(pCtx->nHandle);
    if (r < 0) {
        pCtx->nUpdateErrors.fetch_add(1, std::memory_order_relaxed);
        pCtx->nLastError.store(r, std::memory_order_relaxed);
    }
    DEMO_SAMPLE sample = {};
    get_kinetor_pos(pCtx->nHandle, sample.afPos);
    if (!pCtx->bSceneReady) {
        MakeDefaultScene(sample.afPos, 15.0f, &pCtx->scene);
        pCtx->bSceneReady = true;
        pCtx->dStart = dNow;
        pCtx->dLast = dNow;
    }
    sample.fDepth = ComputeSceneForce(&pCtx->scene, sample.afPos, sample.afForce);
    if (is_kinetor_forces_enabled(pCtx->nHandle) == 1) {
        r = send_kinetor_force(pCtx->nHandle, sample.afForce);
        if (r < 0)
            pCtx->nLastError.store(r, std::memory_order_relaxed);
    } else {
        sample.afForce[0] = sample.afForce[1] = sample.afForce[2] = 0.0f;
    }
    sample.dTime = dNow - pCtx->dStart;
    sample.dPeriod = dNow - pCtx->dLast;
    pCtx->dLast = dNow;
    pCtx->pRecorder->Add(sample);
    if (pCtx->nTick++ % kStatusEveryTicks == 0) {
        DEMO_STATUS status = {};
        float afTemp[3] = {0.0f, 0.0f, 0.0f};
        get_kinetor_temp(pCtx->nHandle, afTemp);
        status.fRate = get_kinetor_rate(pCtx->nHandle);
        for (int k = 0; k < 3; k++)
            status.afPos[k] = sample.afPos[k];
        status.fForce = std::sqrt(sample.afForce[0] * sample.afForce[0] + sample.afForce[1] * sample.afForce[1] +
                                  sample.afForce[2] * sample.afForce[2]);
        status.fMotorTemp = afTemp[0];
        pCtx->pStatus->Publish(status);
    }
    return 0;
}

// The scratch directory of a run without a named device: it holds only the configuration
// and the state files the library wrote beside it, none of which outlive the demo.
char g_szScratchDir[] = "/tmp/kinetor-demo-XXXXXX";

void RemoveScratchDirectory()
{
    DIR* pDir = opendir(g_szScratchDir);
    if (pDir != nullptr) {
        while (dirent* pEntry = readdir(pDir)) {
            if (!strcmp(pEntry->d_name, ".") || !strcmp(pEntry->d_name, ".."))
                continue;
            char szPath[sizeof(g_szScratchDir) + 256 + 2];
            int n = snprintf(szPath, sizeof(szPath), "%s/%s", g_szScratchDir, pEntry->d_name);
            if (n > 0 && static_cast<size_t>(n) < sizeof(szPath))
                unlink(szPath);
        }
        closedir(pDir);
    }
    rmdir(g_szScratchDir);
}

// Waits up to dSeconds for a Ctrl-C; true when one came. SIGINT is blocked in every thread
// of the demo, so it is taken here rather than by a handler.
bool WaitForInterrupt(const sigset_t& interrupt, double dSeconds)
{
    if (dSeconds <= 0.0)
        dSeconds = 0.0;
    timespec ts;
    ts.tv_sec = static_cast<time_t>(dSeconds);
    ts.tv_nsec = static_cast<long>((dSeconds - static_cast<double>(ts.tv_sec)) * 1e9);
    return sigtimedwait(&interrupt, nullptr, &ts) == SIGINT;
}

}  // namespace

int main(int argc, char** argv)
{
    // Progress shows as it happens also when stdout is a pipe or a log file.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    DEMO_OPTIONS options;
    char szError[256];
    switch (ParseDemoOptions(argc, argv, &options, szError, sizeof(szError))) {
    case DEMO_OPTIONS_HELP:
        PrintDemoUsage(stdout);
        return 0;
    case DEMO_OPTIONS_ERROR:
        fprintf(stderr, "kinetor-demo: %s\n", szError);
        PrintDemoUsage(stderr);
        return 2;
    case DEMO_OPTIONS_RUN:
        break;
    }
    const char* pszConfig = options.pszConfig;
    double dSeconds = options.dSeconds;
    std::string svgPath = options.pszSvg;
    // The plot goes where the user started us, even after we move into the scratch directory.
    if (svgPath[0] != '/') {
        char szCwd[PATH_MAX];
        if (getcwd(szCwd, sizeof(szCwd)))
            svgPath = std::string(szCwd) + "/" + svgPath;
    }
    if (!CanWritePlot(svgPath.c_str())) {
        fprintf(stderr, "kinetor-demo: cannot write the plot to %s: %s\n", svgPath.c_str(), strerror(errno));
        return 1;
    }

    // Ctrl-C must end the scene, not the process: the library's own interrupt handler closes
    // every device and exits with -1, which would lose the summary and the plot. Blocked here,
    // before any thread exists, SIGINT stays blocked in every thread the library starts and
    // waits for the main loop to take it.
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);

    std::string configName = pszConfig ? pszConfig : g_pszDemoConfigName;
    if (!pszConfig) {
        if (!mkdtemp(g_szScratchDir)) {
            perror("kinetor-demo: mkdtemp");
            return 1;
        }
        atexit(RemoveScratchDirectory);
        const char* szDir = g_szScratchDir;
        if (!WriteDemoConfiguration(szDir, g_pszDemoConfigName)) {
            fprintf(stderr, "kinetor-demo: cannot write the demo configuration into %s\n", szDir);
            return 1;
        }
        // Configuration files are looked up in the working directory first: work from the
        // scratch directory so a stray file where the user stands cannot take its place.
        if (chdir(szDir) != 0) {
            perror("kinetor-demo: chdir");
            return 1;
        }
        setenv("KINETOR_CONFIG_FILES", szDir, 1);
        setenv("KINETOR_SIMULATOR", "pace=realtime,hand=circle", 0);
        printf("Simulated arm: configuration in %s, KINETOR_SIMULATOR=%s\n", szDir, getenv("KINETOR_SIMULATOR"));
    }

    int nHandle = init_kinetor(const_cast<char*>(configName.c_str()));
    if (nHandle < 0) {
        fprintf(stderr, "kinetor-demo: cannot open \"%s\" (error %d)\n", configName.c_str(), nHandle);
        return 1;
    }
    const char* pszModel = get_kinetor_model_type(nHandle);
    printf("Opened \"%s\": %s, serial number %s, library %s\n", configName.c_str(), pszModel ? pszModel : "?",
           get_hardware_serial_number(nHandle), get_library_version());

    if (is_kinetor_reset_supported(nHandle) == 1) {
        int r = kinetor_reset(nHandle);
        if (r < 0) {
            fprintf(stderr, "kinetor-demo: homing failed (error %d)\n", r);
            disable_kinetor(nHandle);
            return 1;
        }
        printf("Homed at the reset position.\n");
    }

    // Room for the whole run at up to twice the nominal rate.
    CDemoRecorder recorder(static_cast<size_t>(dSeconds * 2000.0) + 1000);
    DemoContext ctx;
    ctx.nHandle = nHandle;
    ctx.bSceneReady = false;
    ctx.dStart = ctx.dLast = 0.0;
    ctx.pRecorder = &recorder;
    CDemoStatus status;
    ctx.pStatus = &status;
    ctx.nTick = 0;
    ctx.nUpdateErrors = 0;
    ctx.nLastError = 0;

    initOSExtender();
    int r = startServoLoop(ServoTick, &ctx);
    if (r < 0) {
        fprintf(stderr, "kinetor-demo: cannot start the servo loop (error %d)\n", r);
        disable_kinetor(nHandle);
        return 1;
    }
    r = enable_kinetor_forces(nHandle);
    if (r < 0)
        fprintf(stderr, "kinetor-demo: forces not enabled (error %d); running without forces\n", r);

    // Only a terminal gets the redrawn line; a log or a pipe would fill with carriage returns.
    const bool bStatusLine = isatty(STDOUT_FILENO) == 1;
    bool bInterrupted = false;
    double dEnd = MonotonicSeconds() + dSeconds;
    for (double dLeft = dSeconds; dLeft > 0.0; dLeft = dEnd - MonotonicSeconds()) {
        if (WaitForInterrupt(interrupt, dLeft < 0.1 ? dLeft : 0.1)) {
            bInterrupted = true;
            break;
        }
        DEMO_STATUS s = status.Read();
        if (!bStatusLine || !s.bValid)
            continue;
        // The library's own timing figures may be read from any thread while the loop runs.
        KINETOR_SERVO_STATS timing;
        const double dP99 = getServoLoopStats(&timing) == 0 ? timing.period.p99_us : 0.0;
        printf("\r%7.1f Hz  p99 %6.0f us  pos %7.2f %7.2f %7.2f mm  force %5.2f N  motor %5.1f C ", s.fRate,
               dP99, s.afPos[0], s.afPos[1], s.afPos[2], s.fForce, s.fMotorTemp);
        fflush(stdout);
    }
    if (bStatusLine)
        printf("\n");
    if (bInterrupted)
        printf("Interrupted: ending the scene early.\n");

    stopServoLoop();
    disable_kinetor_forces(nHandle);
    disable_kinetor(nHandle);

    DEMO_SUMMARY summary = Summarise(recorder);
    PrintSummary(stdout, summary);
    // The library's view of the same run, on the device clock: what the callback cost and
    // how often the loop fell behind.
    KINETOR_SERVO_STATS timing;
    if (getServoLoopStats(&timing) == 0) {
        printf("  callback p99          %.1f us\n", timing.callback.p99_us);
        printf("  callback max          %.1f us\n", timing.callback.max_us);
        printf("  late ticks            %lu of %lu\n", timing.late_ticks, timing.ticks);
        printf("  overruns              %lu\n", timing.overruns);
    }
    if (ctx.nUpdateErrors.load() > 0)
        printf("  update errors         %d (last %d)\n", ctx.nUpdateErrors.load(), ctx.nLastError.load());
    if (!WriteSvgPlot(svgPath.c_str(), recorder)) {
        fprintf(stderr, "kinetor-demo: cannot write the plot to %s\n", svgPath.c_str());
        return 1;
    }
    printf("Plot written to %s\n", svgPath.c_str());
    return 0;
}
