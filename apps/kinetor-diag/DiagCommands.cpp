#include "DiagCommands.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "DiagBlackBox.h"
#include "DiagFireWire.h"
#include "DiagJson.h"
#include "DiagMessages.h"
#include "DiagServo.h"
#include "DiagStats.h"
#include "KinetorIO.h"
#include "config/KinetorDevice.h"
#include "config/KinetorPaths.h"
#include "hal/DeviceNodes.h"

namespace {

// The library's own reading of KINETOR_SIMULATOR ("0" and "off" mean real hardware).
bool Simulated()
{
    return IsSimulatorActive() != FALSE;
}

// Sentences go to standard error; with --json the same text is the document's "error".
int Fail(const std::string& sentence, bool bJson)
{
    fprintf(stderr, "kinetor-diag: %s\n", sentence.c_str());
    if (bJson) {
        CJsonWriter json;
        json.BeginObject();
        json.Bool("ok", false);
        json.String("error", sentence.c_str());
        json.EndObject();
        printf("%s\n", json.Text().c_str());
    }
    return 1;
}

// Opens the named configuration; the handle, or -1 after telling the user what to do.
int OpenNamed(const char* pszName, bool bJson, int* pnCode = nullptr)
{
    DIAG_CONFIG config;
    if (!FindConfiguration(pszName, config)) {
        Fail(DescribeMissingConfiguration(pszName), bJson);
        if (pnCode != nullptr)
            *pnCode = -5;
        return -1;
    }
    int h = init_kinetor(const_cast<char*>(pszName));
    if (pnCode != nullptr)
        *pnCode = h;
    if (h < 0) {
        std::string node = DeviceNodeFor(config.nCardType, config.nUnit);
        Fail(DescribeOpenFailure(pszName, h, node, ProbeDeviceNode(node.c_str()), Simulated()), bJson);
        return -1;
    }
    return h;
}

// Waits up to dSeconds for Ctrl-C (blocked in every thread); true when it came.
bool WaitForInterrupt(const sigset_t& interrupt, double dSeconds)
{
    if (dSeconds < 0.0)
        dSeconds = 0.0;
    timespec ts;
    ts.tv_sec = static_cast<time_t>(dSeconds);
    ts.tv_nsec = static_cast<long>((dSeconds - static_cast<double>(ts.tv_sec)) * 1e9);
    return sigtimedwait(&interrupt, nullptr, &ts) == SIGINT;
}

double Monotonic()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void Percentiles(CJsonWriter& json, const char* pszKey, const KINETOR_PERCENTILES& p)
{
    json.BeginObject(pszKey);
    json.Number("p50_us", p.p50_us);
    json.Number("p90_us", p.p90_us);
    json.Number("p99_us", p.p99_us);
    json.Number("p999_us", p.p999_us);
    json.Number("max_us", p.max_us);
    json.Integer("count", static_cast<long>(p.count));
    json.EndObject();
}

}  // namespace

int RunList(bool bJson)
{
    std::vector<DIAG_CONFIG> configs = FindConfigurations();
    if (configs.empty())
        return Fail(DescribeMissingConfiguration(nullptr), bJson);
    CJsonWriter json;
    json.BeginObject();
    json.Bool("ok", true);
    json.BeginArray("configurations");
    for (const DIAG_CONFIG& c : configs) {
        // A device answers when the library can open it; it is closed again at once.
        int h = c.bReadable ? init_kinetor(const_cast<char*>(c.name.c_str())) : -5;
        if (h >= 0)
            disable_kinetor(h);
        std::string answer = h >= 0 ? "answers" : std::string("does not answer (") + ResultCodeText(h) + ")";
        std::string hint;
        if (h < 0) {
            std::string node = DeviceNodeFor(c.nCardType, c.nUnit);
            hint = DescribeOpenFailure(c.name.c_str(), h, node, ProbeDeviceNode(node.c_str()), Simulated());
        }
        if (bJson) {
            json.BeginObject();
            json.String("name", c.name.c_str());
            json.String("model", ModelName(c.nModelType));
            json.String("interface", InterfaceName(c.nCardType));
            json.Integer("unit", static_cast<long>(c.nUnit));
            if (c.nCardType == KINETOR_CARD_1394)
                json.Integer("serial", static_cast<long>(c.nSerial));
            json.String("file", c.path.c_str());
            json.Bool("readable", c.bReadable);
            json.Bool("answers", h >= 0);
            json.Integer("result", h >= 0 ? 0 : h);
            if (h < 0)
                json.String("hint", hint.c_str());
            json.EndObject();
        } else {
            printf("%-24s %-13s %-20s unit %lu  %-40s %s\n", c.name.c_str(), ModelName(c.nModelType),
                   InterfaceName(c.nCardType), c.nUnit, c.path.c_str(), answer.c_str());
            if (h < 0)
                printf("    %s\n", hint.c_str());
        }
    }
    json.EndArray();
    // Every board on the FireWire buses, configured or not: a board nobody has configured
    // yet is just what a user setting up a Cirrel looks for.
    std::vector<DIAG_FIREWIRE_BOARD> boards;
    bool bHost = FindFireWireBoards(boards);
    json.Bool("firewire_host", bHost);
    json.BeginArray("firewire_boards");
    for (const DIAG_FIREWIRE_BOARD& b : boards) {
        json.BeginObject();
        json.Integer("serial", static_cast<long>(b.nSerial));
        json.Integer("port", b.nPort);
        json.String("firmware", b.firmware.c_str());
        json.EndObject();
        if (!bJson)
            printf("FireWire board, serial number %lu, firmware %s (port %d)\n", b.nSerial, b.firmware.c_str(),
                   b.nPort);
    }
    json.EndArray();
    json.EndObject();
    if (bJson)
        printf("%s\n", json.Text().c_str());
    else if (!bHost)
        printf("FireWire: no FireWire host found (no adapter, or no permission on /dev/raw1394 and /dev/fw*: "
               "the user must be in the group \"kinetor\"), so no boards can be listed.\n");
    else if (boards.empty())
        printf("FireWire: no boards found on the bus.\n");
    return 0;
}

int RunNew(const DIAG_NEW_OPTIONS& options, bool bJson)
{
    std::string path;
    std::string error;
    if (!CreateConfiguration(options, path, error))
        return Fail(error, bJson);
    if (bJson) {
        CJsonWriter json;
        json.BeginObject();
        json.Bool("ok", true);
        json.String("name", options.pszName);
        json.String("model", options.pszModel);
        json.String("file", path.c_str());
        json.EndObject();
        printf("%s\n", json.Text().c_str());
    } else {
        printf("Wrote \"%s\" (%s) to %s.\nCheck it with: kinetor-diag check \"%s\"\n", options.pszName,
               options.pszModel, path.c_str(), options.pszName);
    }
    return 0;
}

int RunShow(const char* pszName, double dSeconds, double dInterval, bool bJson)
{
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
    int h = OpenNamed(pszName, bJson);
    if (h < 0)
        return 1;
    CServoProbe probe(h);
    int r = probe.Start(0);
    if (r < 0) {
        disable_kinetor(h);
        char szText[160];
        snprintf(szText, sizeof(szText), "The servo loop would not start (error %d: %s).", r, ResultCodeText(r));
        return Fail(szText, bJson);
    }
    DiagResetServoStats();
    const bool bTerminal = !bJson && isatty(STDOUT_FILENO) == 1;
    if (dInterval <= 0.0)
        dInterval = bTerminal ? 0.2 : 1.0;
    const double dEnd = Monotonic() + dSeconds;
    bool bDone = false;
    while (!bDone) {
        double dWait = dInterval;
        if (dSeconds > 0.0) {
            double dLeft = dEnd - Monotonic();
            if (dLeft <= dInterval) {
                dWait = dLeft > 0.0 ? dLeft : 0.0;
                bDone = true;
            }
        }
        if (WaitForInterrupt(interrupt, dWait))
            bDone = true;
        DIAG_SNAPSHOT s = probe.Snapshot();
        KINETOR_SERVO_STATS stats;
        const bool bStats = DiagGetServoStats(&stats);
        if (!s.bValid)
            continue;
        if (bJson) {
            CJsonWriter json;
            json.BeginObject();
            json.String("device", pszName);
            json.Integer("ticks", static_cast<long>(s.nTicks));
            json.BeginArray("pos_mm");
            for (float f : s.afPos)
                json.Number(nullptr, f);
            json.EndArray();
            json.BeginArray("vel_mm_s");
            for (float f : s.afVel)
                json.Number(nullptr, f);
            json.EndArray();
            json.BeginArray("stylus_switches");
            json.Integer(nullptr, s.anStylus[0]);
            json.Integer(nullptr, s.anStylus[1]);
            json.EndArray();
            json.Integer("inkwell", s.nInkwell);
            json.Integer("presence", s.nPresence);
            json.BeginArray("motor_temp_c");
            for (float f : s.afTemp)
                json.Number(nullptr, f);
            json.EndArray();
            json.Integer("fault", s.nFault);
            json.Number("rate_hz", bStats ? stats.rate_hz : s.fRate);
            if (bStats) {
                json.Integer("overruns", static_cast<long>(stats.overruns));
                json.Integer("late_ticks", static_cast<long>(stats.late_ticks));
                Percentiles(json, "period", stats.period);
                Percentiles(json, "callback", stats.callback);
            }
            json.EndObject();
            printf("%s\n", json.Text().c_str());
        } else {
            char szTiming[160] = "";
            if (bStats)
                snprintf(szTiming, sizeof(szTiming), "  period p50 %.0f p99 %.0f max %.0f us, late %lu",
                         stats.period.p50_us, stats.period.p99_us, stats.period.max_us, stats.late_ticks);
            printf("%s%8.1f %8.1f %8.1f mm  %7.1f %7.1f %7.1f mm/s  sw %d%d ink %d  %5.1f %5.1f %5.1f C  "
                   "fault %d  %6.1f Hz%s%s",
                   bTerminal ? "\r\033[K" : "", s.afPos[0], s.afPos[1], s.afPos[2], s.afVel[0], s.afVel[1],
                   s.afVel[2], s.anStylus[0] == 1, s.anStylus[1] == 1, s.nInkwell == 1, s.afTemp[0], s.afTemp[1],
                   s.afTemp[2], s.nFault, bStats ? stats.rate_hz : s.fRate, szTiming, bTerminal ? "" : "\n");
        }
        fflush(stdout);
    }
    if (bTerminal)
        printf("\n");
    probe.Stop();
    disable_kinetor(h);
    return 0;
}

namespace {

// One step of the self-test and its verdict.
struct CHECK_STEP {
    const char* pszStep;
    const char* pszVerdict;   // pass, fail, skip
    std::string detail;
};

void AddStep(std::vector<CHECK_STEP>& steps, const char* pszStep, const char* pszVerdict, const std::string& detail)
{
    steps.push_back(CHECK_STEP{pszStep, pszVerdict, detail});
    // Progress shows as it happens: the encoder step may wait for the user.
    if (isatty(STDERR_FILENO) == 1)
        fprintf(stderr, "  %-20s %s\n", pszStep, pszVerdict);
}

// A state file of temperatures: four lines of three finite numbers in a range motors and
// rooms can have. Absent is sound: a device never closed has none yet.
std::string CheckTemperatureFile(const char* pszName, bool& bSane)
{
    char szPath[KINETOR_MAX_PATH + 1];
    bSane = true;
    if (!FormStateFilePath(szPath, sizeof(szPath), "KinetorTemperature(%s)", pszName))
        return "no state file path";
    FILE* pFile = fopen(szPath, "r");
    if (pFile == nullptr)
        return std::string("none yet (") + szPath + ")";
    char szLine[256];
    int nLines = 0;
    while (bSane && fgets(szLine, sizeof(szLine), pFile) != nullptr) {
        float a = 0.0f, b = 0.0f, c = 0.0f;
        bSane = sscanf(szLine, "%f %f %f", &a, &b, &c) == 3;
        for (float f : {a, b, c})
            bSane = bSane && std::isfinite(f) && f > -40.0f && f < 200.0f;
        nLines++;
    }
    fclose(pFile);
    struct stat st;
    bool bFuture = stat(szPath, &st) == 0 && st.st_mtime > time(nullptr) + 60;
    if (bSane && nLines != 4)
        bSane = false;
    if (bFuture)
        bSane = false;
    std::string detail = szPath;
    if (!bSane)
        detail += bFuture ? ": written in the future; check the system clock"
                          : ": damaged; delete it, the library writes a fresh one when the device is closed";
    return detail;
}

}  // namespace

int RunCheck(const char* pszName, const DIAG_CHECK_OPTIONS& o, bool bJson)
{
    std::vector<CHECK_STEP> steps;
    char szText[320];
    int nCode = 0;
    int h = -1;
    std::string openError;
    DIAG_CONFIG config;
    if (!FindConfiguration(pszName, config))
        return Fail(DescribeMissingConfiguration(pszName), bJson);
    h = init_kinetor(const_cast<char*>(pszName));
    nCode = h;
    if (h < 0) {
        std::string node = DeviceNodeFor(config.nCardType, config.nUnit);
        openError = DescribeOpenFailure(pszName, h, node, ProbeDeviceNode(node.c_str()), Simulated());
        AddStep(steps, "opens", "fail", openError);
        fprintf(stderr, "kinetor-diag: %s\n", openError.c_str());
    } else {
        const char* pszModel = get_kinetor_model_type(h);
        snprintf(szText, sizeof(szText), "%s, serial number %s", pszModel != nullptr ? pszModel : "?",
                 get_hardware_serial_number(h) != nullptr ? get_hardware_serial_number(h) : "?");
        AddStep(steps, "opens", "pass", szText);
    }
    bool bHomed = false;
    if (h >= 0) {
        // Calibration state: the Altura models are homed at their reset pose; the Bravis and
        // Cirrel find their offsets from home sensors and keep them on file.
        if (is_kinetor_reset_supported(h) == 1) {
            int r = kinetor_reset(h);
            bHomed = r == 0;
            snprintf(szText, sizeof(szText), r == 0 ? "homed at the reset pose"
                                                    : "homing failed (error %d): put the arm in its reset pose and run again",
                     r);
            AddStep(steps, "calibration", r == 0 ? "pass" : "fail", szText);
        } else if (is_calibration_supported(h) == 1) {
            int nStatus = 0;
            int r = get_calibration_status(h, &nStatus);
            bHomed = true;
            snprintf(szText, sizeof(szText), r < 0 ? "calibration state unreadable (error %d)" : "calibration state %d",
                     r < 0 ? r : nStatus);
            AddStep(steps, "calibration", r < 0 ? "fail" : "pass", szText);
        } else {
            bHomed = true;
            AddStep(steps, "calibration", "skip", "this model needs no calibration");
        }
    }
    CServoProbe probe(h);
    bool bLoop = false;
    if (h >= 0) {
        int r = probe.Start(o.nRateHz);
        bLoop = r == 0;
        if (!bLoop) {
            snprintf(szText, sizeof(szText), "the servo loop would not start at %lu Hz (error %d: %s)", o.nRateHz, r,
                     ResultCodeText(r));
            AddStep(steps, "amplifiers enable", "fail", szText);
        }
    }
    if (bLoop) {
        int r = bHomed ? enable_kinetor_forces(h) : -16;
        snprintf(szText, sizeof(szText), r == 0 ? "forces on (zero force)" : "forces not enabled (error %d: %s)", r,
                 ResultCodeText(r));
        AddStep(steps, "amplifiers enable", r == 0 ? "pass" : "fail", szText);
        // The watchdog answers when forces stay on and no fault comes over a few hundred ticks.
        probe.ResetCounters();
        const double dEnd = Monotonic() + 0.5;
        while (Monotonic() < dEnd && probe.Ticks() < 300)
            usleep(10000);
        DIAG_SNAPSHOT s = probe.Snapshot();
        const bool bWatchdog = r == 0 && is_kinetor_forces_enabled(h) == 1 && s.nFault == 0 && probe.UpdateErrors() == 0;
        if (r != 0)
            AddStep(steps, "watchdog answers", "skip", "needs the amplifiers on");
        else {
            snprintf(szText, sizeof(szText), "%lu ticks, device fault %d, last error %d", probe.Ticks(), s.nFault,
                     probe.LastError());
            AddStep(steps, "watchdog answers", bWatchdog ? "pass" : "fail", szText);
        }
        if (!Simulated() && isatty(STDIN_FILENO) == 1)
            fprintf(stderr, "Move the arm now (%.0f s) ...\n", o.dMoveSeconds);
        probe.ResetCounters();
        const double dMoveEnd = Monotonic() + o.dMoveSeconds;
        while (Monotonic() < dMoveEnd && !probe.EncodersMoved())
            usleep(10000);
        if (probe.EncodersMoved())
            AddStep(steps, "encoders change", "pass", "the encoders followed the arm");
        else {
            snprintf(szText, sizeof(szText),
                     "no encoder changed within %.0f s: move the arm during the check; if it moved, check the "
                     "encoder cables%s",
                     o.dMoveSeconds, Simulated() ? " (the simulator moves it with KINETOR_SIMULATOR=hand=circle)" : "");
            AddStep(steps, "encoders change", "fail", szText);
        }
    }
    if (h >= 0) {
        bool bSane = true;
        std::string detail = CheckTemperatureFile(pszName, bSane);
        AddStep(steps, "temperature files", bSane ? "pass" : "fail", detail);
    }
    unsigned long nTicks = 0, nLost = 0, nLate = 0;
    if (bLoop) {
        probe.ResetCounters();
        const double dEnd = Monotonic() + o.dSeconds;
        while (Monotonic() < dEnd)
            usleep(20000);
        nTicks = probe.Ticks();
        nLost = probe.LostTicks();
        nLate = probe.LateTicks();
        const bool bLink = nTicks > 0 && nLost == 0 && nLate == 0 && probe.UpdateErrors() == 0;
        snprintf(szText, sizeof(szText), "%lu ticks over %.2f s of device time at %lu Hz: %lu lost, %lu late, %lu errors",
                 nTicks, probe.CountedSeconds(), o.nRateHz, nLost, nLate, probe.UpdateErrors());
        AddStep(steps, "link", bLink ? "pass" : "fail", szText);
        disable_kinetor_forces(h);
        probe.Stop();
    }
    if (h >= 0)
        disable_kinetor(h);
    bool bAllPass = h >= 0;
    for (const CHECK_STEP& s : steps)
        bAllPass = bAllPass && strcmp(s.pszVerdict, "fail") != 0;
    if (bJson) {
        CJsonWriter json;
        json.BeginObject();
        json.Bool("ok", bAllPass);
        json.String("device", pszName);
        json.Integer("open_result", nCode < 0 ? nCode : 0);
        if (h < 0)
            json.String("error", openError.c_str());
        json.BeginArray("steps");
        for (const CHECK_STEP& s : steps) {
            json.BeginObject();
            json.String("step", s.pszStep);
            json.String("verdict", s.pszVerdict);
            json.String("detail", s.detail.c_str());
            json.EndObject();
        }
        json.EndArray();
        json.BeginObject("link");
        json.Integer("ticks", static_cast<long>(nTicks));
        json.Integer("lost", static_cast<long>(nLost));
        json.Integer("late", static_cast<long>(nLate));
        json.Number("seconds", o.dSeconds);
        json.EndObject();
        json.EndObject();
        printf("%s\n", json.Text().c_str());
    } else {
        printf("Check of \"%s\":\n", pszName);
        for (const CHECK_STEP& s : steps)
            printf("  %-18s %-4s  %s\n", s.pszStep, s.pszVerdict, s.detail.c_str());
        printf("%s\n", bAllPass ? "All steps passed." : "Some steps failed; see above.");
    }
    return bAllPass ? 0 : 1;
}

int RunBlackBox(const char* pszName, bool bJson)
{
    DIAG_CONFIG config;
    if (!FindConfiguration(pszName, config))
        return Fail(DescribeMissingConfiguration(pszName), bJson);
    std::string path;
    if (!BlackBoxPath(pszName, path))
        return Fail("The black box path of this name is too long.", bJson);
    DIAG_BLACK_BOX box;
    std::string error;
    if (!ReadBlackBox(path.c_str(), box, error))
        return Fail(error, bJson);
    if (bJson) {
        CJsonWriter json;
        json.BeginObject();
        json.Bool("ok", true);
        json.String("device", box.device.c_str());
        json.String("reason", box.reason.c_str());
        json.Integer("time", static_cast<long>(box.nTime));
        json.String("file", path.c_str());
        json.BeginArray("ticks");
        for (const DIAG_BLACK_BOX_TICK& t : box.ticks) {
            json.BeginObject();
            json.Integer("t_us", static_cast<long>(t.nTimeUs));
            json.BeginArray("pos_mm");
            for (double d : t.adPos)
                json.Number(nullptr, d);
            json.EndArray();
            json.BeginArray("force_n");
            for (double d : t.adForce)
                json.Number(nullptr, d);
            json.EndArray();
            json.BeginArray("dac");
            for (long n : t.anDac)
                json.Integer(nullptr, n);
            json.EndArray();
            json.Integer("faults", t.nFaults);
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
        printf("%s\n", json.Text().c_str());
        return 0;
    }
    time_t when = static_cast<time_t>(box.nTime);
    char szWhen[64] = "?";
    struct tm tmWhen;
    if (localtime_r(&when, &tmWhen) != nullptr)
        strftime(szWhen, sizeof(szWhen), "%Y-%m-%d %H:%M:%S", &tmWhen);
    printf("Black box of \"%s\": stopped for %s at %s, last %zu ticks (%s)\n", box.device.c_str(), box.reason.c_str(),
           szWhen, box.ticks.size(), path.c_str());
    printf("%12s %9s %9s %9s %8s %8s %8s  %s\n", "t_us", "x_mm", "y_mm", "z_mm", "fx_N", "fy_N", "fz_N",
           "dac0..dac5 faults");
    for (const DIAG_BLACK_BOX_TICK& t : box.ticks)
        printf("%12lld %9.3f %9.3f %9.3f %8.3f %8.3f %8.3f  %ld %ld %ld %ld %ld %ld %ld\n", t.nTimeUs, t.adPos[0],
               t.adPos[1], t.adPos[2], t.adForce[0], t.adForce[1], t.adForce[2], t.anDac[0], t.anDac[1], t.anDac[2],
               t.anDac[3], t.anDac[4], t.anDac[5], t.nFaults);
    return 0;
}
