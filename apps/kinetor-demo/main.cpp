// kinetor-demo: a haptic application run against a Kinetor arm. Without arguments it
// sets up a simulated arm of its own; given a configuration name it uses that device.
#include "KinetorIO.h"
#include "KinetorServo.h"
#include "DemoConfiguration.h"
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
    std::atomic<int> nUpdateErrors;
    std::atomic<int> nLastError;
};

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

void Usage(FILE* pOut)
{
    fprintf(pOut,
            "usage: kinetor-demo [CONFIGURATION] [--seconds N] [--svg FILE]\n"
            "  Without CONFIGURATION a simulated arm is set up in a fresh temporary directory.\n"
            "  --seconds N   length of the haptic scene (default 10)\n"
            "  --svg FILE    where to write the plot (default kinetor-demo.svg)\n");
}

}  // namespace

int main(int argc, char** argv)
{
    const char* pszConfig = nullptr;
    double dSeconds = 10.0;
    std::string svgPath = "kinetor-demo.svg";
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--seconds") && i + 1 < argc) {
            char* pEnd = nullptr;
            dSeconds = strtod(argv[++i], &pEnd);
            if (!pEnd || *pEnd || !(dSeconds > 0.0) || dSeconds > 3600.0) {
                fprintf(stderr, "kinetor-demo: --seconds needs a number between 0 and 3600\n");
                return 2;
            }
        } else if (!strcmp(argv[i], "--svg") && i + 1 < argc) {
            svgPath = argv[++i];
        } else if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
            Usage(stdout);
            return 0;
        } else if (argv[i][0] != '-' && !pszConfig) {
            pszConfig = argv[i];
        } else {
            Usage(stderr);
            return 2;
        }
    }
    // The plot goes where the user started us, even after we move into the scratch directory.
    if (svgPath[0] != '/') {
        char szCwd[PATH_MAX];
        if (getcwd(szCwd, sizeof(szCwd)))
            svgPath = std::string(szCwd) + "/" + svgPath;
    }

    std::string configName = pszConfig ? pszConfig : g_pszDemoConfigName;
    if (!pszConfig) {
        if (!mkdtemp(g_szScratchDir)) {
            perror("kinetor-demo: mkdtemp");
            return 1;
        }
        // Also on Ctrl-C: the library's interrupt handler closes the arm and exits.
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

    double dEnd = MonotonicSeconds() + dSeconds;
    while (MonotonicSeconds() < dEnd) {
        usleep(100000);
        size_t n = recorder.GetCount();
        if (n == 0)
            continue;
        const DEMO_SAMPLE& s = recorder.GetAt(n - 1);
        float afTemp[3] = {0, 0, 0};
        get_kinetor_temp(nHandle, afTemp);
        float fForce = std::sqrt(s.afForce[0] * s.afForce[0] + s.afForce[1] * s.afForce[1] +
                                 s.afForce[2] * s.afForce[2]);
        printf("\r%7.1f Hz  pos %7.2f %7.2f %7.2f mm  force %5.2f N  motor %5.1f C ",
               get_kinetor_rate(nHandle), s.afPos[0], s.afPos[1], s.afPos[2], fForce, afTemp[0]);
        fflush(stdout);
    }
    printf("\n");

    stopServoLoop();
    disable_kinetor_forces(nHandle);
    disable_kinetor(nHandle);

    DEMO_SUMMARY summary = Summarise(recorder);
    PrintSummary(stdout, summary);
    if (ctx.nUpdateErrors.load() > 0)
        printf("  update errors         %d (last %d)\n", ctx.nUpdateErrors.load(), ctx.nLastError.load());
    if (WriteSvgPlot(svgPath.c_str(), recorder))
        printf("Plot written to %s\n", svgPath.c_str());
    else
        fprintf(stderr, "kinetor-demo: cannot write %s\n", svgPath.c_str());
    return 0;
}
