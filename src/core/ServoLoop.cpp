// The servo loop: one thread calls the application's tick callback and then waits in the
// first open device for the hardware's next tick. Flags shared with the servo thread are
// atomics so that the per-tick path needs no lock; the start handshake and the callback
// registration have their own locks (see the lock order below).
//
// Lock order: mutex_servo_loop_start_stop, then mutex_servo_loop_start. cs is never held
// while taking either of them, and mutex_ose_initialize is used by initOSExtender alone.
// mutex_servo_loop_pause is taken alone, and never while a device or port lock is held:
// the servo thread can reach its tick boundary only once its callback has let go of them.
#include "core/ServoLoop.h"

#include <ctype.h>
#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "KinetorStats.h"
#include "core/IOLibAPI.h"
#include "core/RealtimeReadiness.h"
#include "core/ServoStats.h"
#include "core/Timer.h"
#include "platform/CriticalSection.h"
#include "platform/TimeSample.h"
#include "platform/Trace.h"

typedef int (*PFN_SERVO_CALLBACK)(void*);
typedef void (*PFN_SERVO_ERROR_CALLBACK)(int, void*);

#define OSE_TRACE(level, text) LOGV("%s %d: %s", __func__, (level), (text))

namespace {

const char kDefaultCpuInfoPath[] = "/proc/cpuinfo";
const char kDefaultOsReleasePath[] = "/proc/sys/kernel/osrelease";
const size_t kProcReadStep = 1024;

std::atomic<bool> g_ose_initialized(false);
std::atomic<bool> g_servo_loop_running(false);
std::atomic<bool> g_servo_loop_done(true);
std::atomic<uint64_t> g_cycle_time(1000000);

pthread_t servo_loop_tid;
// A servo thread that has not been joined yet; it may have ended by itself (negative
// callback), and is then reclaimed by the next start or stop. Guarded by
// mutex_servo_loop_start_stop.
bool g_bServoThreadJoinable = false;
// The handshake: the thread finished its first tick, or it ended before that.
// Guarded by mutex_servo_loop_start.
bool g_bServoLoopStarted = false;
bool g_bServoThreadEnded = false;

CIOLibAPI* g_iolib = nullptr;
PFN_SERVO_CALLBACK globalUserCallback = nullptr;
void* globalUserData = nullptr;

// The pairs below change together under cs.
PFN_SERVO_CALLBACK preServoCallback = nullptr;
void* preServoUserData = nullptr;
PFN_SERVO_CALLBACK postServoCallback = nullptr;
void* postServoUserData = nullptr;
PFN_SERVO_ERROR_CALLBACK servoErrorCallback = nullptr;
void* servoErrorUserData = nullptr;

pthread_mutex_t mutex_ose_initialize = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t mutex_servo_loop_start_stop = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t mutex_servo_loop_start = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t cond_servo_loop_start = PTHREAD_COND_INITIALIZER;

// The setters and setServoLoopRate may run before initOSExtender, so cs is usable from
// the start, already in the state InitializeCriticalSection gives. Initialising it again
// in initOSExtender could pull the mutex away from a thread that holds it.
CRITICAL_SECTION cs = KINETOR_CRITICAL_SECTION_INITIALIZER;

CIntervalTimer gServoLoopTimer;

// Posted by the SIGINT handler for the thread that shuts everything down.
sem_t g_semInterrupt;
std::atomic<bool> g_bInterruptThread(false);
std::atomic<bool> g_bInterruptThreadAllowed(true);
// A SIGINT that found no shutdown thread: the servo thread carries out the shutdown when
// its loop has ended. Both flags are lock-free, so the handler may touch them.
std::atomic<bool> g_bInterruptPending(false);
std::atomic<bool> g_bServoThreadActive(false);

// The pause of CServoLoopPause. The counts and flags are guarded by
// mutex_servo_loop_pause; g_nPausePending mirrors the request count for the servo thread's
// check once per tick, which takes no lock.
pthread_mutex_t mutex_servo_loop_pause = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t cond_servo_loop_pause = PTHREAD_COND_INITIALIZER;
int g_nPauseRequests = 0;
bool g_bServoParked = false;
bool g_bServoThreadAlive = false;
std::atomic<int> g_nPausePending(0);
// Counts changes of the device table, so that the servo thread notices them.
std::atomic<unsigned> g_nTableChanges(0);

// Lets the callback's own thread recognise itself in stopServoLoop.
thread_local bool t_bOnServoThread = false;

char g_szCpuInfoPath[256] = "/proc/cpuinfo";
char g_szOsReleasePath[256] = "/proc/sys/kernel/osrelease";

// Holds SIGINT back from the calling thread while it owns the start/stop lock: the
// handler calls stopServoLoop, which would otherwise wait for a lock its own thread holds.
// A SIGINT that arrives meanwhile is delivered when the mask is restored.
class CInterruptBlock {
public:
    CInterruptBlock() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        m_bRestore = pthread_sigmask(SIG_BLOCK, &set, &m_sigOld) == 0;
    }
    ~CInterruptBlock() {
        if (m_bRestore)
            pthread_sigmask(SIG_SETMASK, &m_sigOld, nullptr);
    }

private:
    CInterruptBlock(const CInterruptBlock&) = delete;
    CInterruptBlock& operator=(const CInterruptBlock&) = delete;

    sigset_t m_sigOld;
    bool m_bRestore;
};

CIOLibAPI* FirstOpenDevice()
{
    for (int i = 0; i < CIOLibAPI::m_kinetorArray.GetSize(); i++) {
        CIOLibAPI* pLib = static_cast<CIOLibAPI*>(CIOLibAPI::m_kinetorArray.GetAt(i));
        if (pLib != nullptr)
            return pLib;
    }
    return nullptr;
}

void SubmitAllClients(BOOLEAN bSet)
{
    for (int i = 0; i < CIOLibAPI::m_kinetorArray.GetSize(); i++) {
        CIOLibAPI* pLib = static_cast<CIOLibAPI*>(CIOLibAPI::m_kinetorArray.GetAt(i));
        if (pLib != nullptr)
            pLib->SubmitClient(bSet);
    }
}

bool IsInTable(const CIOLibAPI* pLib)
{
    for (int i = 0; i < CIOLibAPI::m_kinetorArray.GetSize(); i++) {
        if (CIOLibAPI::m_kinetorArray.GetAt(i) == pLib)
            return true;
    }
    return false;
}

// Set before the servo thread is created, so that a pause asked for meanwhile waits for
// it; cleared when the thread ends, so that pausers no longer wait for a boundary it will
// not reach.
void SetServoThreadAlive(bool bAlive)
{
    pthread_mutex_lock(&mutex_servo_loop_pause);
    g_bServoThreadAlive = bAlive;
    pthread_cond_broadcast(&cond_servo_loop_pause);
    pthread_mutex_unlock(&mutex_servo_loop_pause);
    g_bServoThreadActive.store(bAlive);
}

// Waits at the tick boundary while a pause is requested. Servo thread only.
void ParkAtTickBoundary()
{
    pthread_mutex_lock(&mutex_servo_loop_pause);
    g_bServoParked = true;
    pthread_cond_broadcast(&cond_servo_loop_pause);
    while (g_nPauseRequests > 0)
        pthread_cond_wait(&cond_servo_loop_pause, &mutex_servo_loop_pause);
    g_bServoParked = false;
    pthread_mutex_unlock(&mutex_servo_loop_pause);
}

// After the device table changed: the loop keeps pacing on its device while that is still
// open, moves on to the lowest-numbered open one when it was closed, and ends when none is
// left. Returns false when the loop must end. Servo thread only.
bool FollowDeviceTable(unsigned& nSeen)
{
    const unsigned nChanges = g_nTableChanges.load();
    if (nChanges == nSeen)
        return true;
    nSeen = nChanges;
    if (!IsInTable(g_iolib))
        g_iolib = FirstOpenDevice();
    if (g_iolib != nullptr)
        return true;
    OSE_TRACE(1, "No open device left: servo loop ends");
    g_servo_loop_done.store(true);
    return false;
}

// The nanoseconds between two readings of the device clock.
int64_t ElapsedNs(const struct timespec& tsStart, const struct timespec& tsStop)
{
    if (tsStop.tv_sec > tsStart.tv_sec)
        return (int64_t)(tsStop.tv_sec - tsStart.tv_sec) * 1000000000LL +
               (int64_t)(tsStop.tv_nsec - tsStart.tv_nsec);
    return (int64_t)(tsStop.tv_nsec - tsStart.tv_nsec);
}

void ReadCallback(PFN_SERVO_CALLBACK& pfnSource, void*& pSourceData, PFN_SERVO_CALLBACK& pfn,
                  void*& pData)
{
    EnterCriticalSection(&cs);
    pfn = pfnSource;
    pData = pSourceData;
    LeaveCriticalSection(&cs);
}

int64_t TimespecNs(const struct timespec& ts)
{
    return (int64_t)ts.tv_sec * 1000000000LL + (int64_t)ts.tv_nsec;
}

void* servo_thread(void*)
{
    t_bOnServoThread = true;
    // Asked here, on the thread itself: only it knows what scheduling it was given.
    CheckRealtimeReadiness();

    PFN_SERVO_CALLBACK pfnPre = nullptr;
    void* pPreData = nullptr;
    ReadCallback(preServoCallback, preServoUserData, pfnPre, pPreData);
    if (pfnPre != nullptr)
        pfnPre(pPreData);

    unsigned nTableSeen = g_nTableChanges.load();
    while (!g_servo_loop_done.load()) {
        if (g_nPausePending.load() > 0)
            ParkAtTickBoundary();
        if (!FollowDeviceTable(nTableSeen) || g_servo_loop_done.load())
            break;

        // The callback's duration on the device clock: process CPU time would also count
        // every other busy thread of the application and make each tick look overrun.
        struct timespec tsStart;
        struct timespec tsStop;
        ReadDeviceClock(&tsStart);
        gServoLoopTimer.Restart();

        // A missing callback leaves a loop that only paces on the device.
        if (globalUserCallback != nullptr && globalUserCallback(globalUserData) < 0) {
            g_servo_loop_done.store(true);
            break;
        }

        ReadDeviceClock(&tsStop);
        // The callback may have closed the device the loop paces on.
        if (!FollowDeviceTable(nTableSeen))
            break;
        // A callback that used up its cycle goes straight on to the next tick.
        const int64_t nCallbackNs = ElapsedNs(tsStart, tsStop);
        const uint64_t nCycleNs = g_cycle_time.load(std::memory_order_relaxed);
        const bool bWait = (uint64_t)nCallbackNs < nCycleNs;
        GetServoStats().AddTick(TimespecNs(tsStart), nCallbackNs > 0 ? (uint64_t)nCallbackNs : 0, !bWait,
                                nCycleNs);
        if (bWait)
            g_iolib->Await();

        if (!g_servo_loop_running.load()) {
            pthread_mutex_lock(&mutex_servo_loop_start);
            g_servo_loop_running.store(true);
            g_bServoLoopStarted = true;
            pthread_cond_broadcast(&cond_servo_loop_start);
            pthread_mutex_unlock(&mutex_servo_loop_start);
        }
    }

    PFN_SERVO_CALLBACK pfnPost = nullptr;
    void* pPostData = nullptr;
    ReadCallback(postServoCallback, postServoUserData, pfnPost, pPostData);
    if (pfnPost != nullptr)
        pfnPost(pPostData);

    globalUserCallback = nullptr;
    globalUserData = nullptr;
    g_servo_loop_running.store(false);

    // Also wakes a starter whose loop ended before its first tick completed.
    pthread_mutex_lock(&mutex_servo_loop_start);
    g_bServoThreadEnded = true;
    pthread_cond_broadcast(&cond_servo_loop_start);
    pthread_mutex_unlock(&mutex_servo_loop_start);

    // A SIGINT handler checks the thread's flag after raising its own, so one of the two
    // always sees the other's.
    SetServoThreadAlive(false);
    if (g_bInterruptPending.load()) {
        cleanupKinetors();
        exit(-1);
    }
    return nullptr;
}

// Joins a servo thread that ended by itself. Called with mutex_servo_loop_start_stop held.
void ReapServoThread()
{
    if (!g_bServoThreadJoinable || t_bOnServoThread)
        return;
    if (pthread_join(servo_loop_tid, nullptr) != 0)
        OSE_TRACE(1, "pthread_join failed");
    g_bServoThreadJoinable = false;
}

// Creates the servo thread, real-time when the process may have it. Returns the
// pthread_create result. Called with mutex_servo_loop_start_stop held.
int CreateServoThread()
{
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return EAGAIN;

    const uid_t nEffectiveUid = geteuid();
    const bool bRoot = setreuid(getuid(), 0) == 0;
    // Asked for without root as well: a real-time budget in limits.conf or CAP_SYS_NICE
    // grants it to an ordinary user, and a refusal only costs the fallback below.
    struct sched_param param;
    memset(&param, 0, sizeof(param));
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    // Without explicit scheduling the thread would inherit the creator's policy and
    // the real-time request would be silently ignored.
    const bool bRealtime = pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED) == 0 &&
                           pthread_attr_setschedpolicy(&attr, SCHED_FIFO) == 0 &&
                           pthread_attr_setschedparam(&attr, &param) == 0;

    pthread_mutex_lock(&mutex_servo_loop_start);
    g_bServoLoopStarted = false;
    g_bServoThreadEnded = false;
    pthread_mutex_unlock(&mutex_servo_loop_start);
    SetServoThreadAlive(true);

    int nResult = EAGAIN;
    if (bRealtime)
        nResult = pthread_create(&servo_loop_tid, &attr, servo_thread, nullptr);
    // Root in a container, or a real-time budget of zero, still refuses SCHED_FIFO; a
    // servo loop at normal priority is better than none.
    if (!bRealtime || nResult != 0)
        nResult = pthread_create(&servo_loop_tid, nullptr, servo_thread, nullptr);
    pthread_attr_destroy(&attr);
    if (nResult != 0)
        SetServoThreadAlive(false);

    // Root was needed only to create the thread; the program goes on as it was.
    if (bRoot && geteuid() != nEffectiveUid && setreuid((uid_t)-1, nEffectiveUid) != 0)
        perror("startServoLoop: setreuid");
    return nResult;
}

// The shutdown on SIGINT: stop the loop, disable and destroy every device, end the process.
void ShutdownOnInterrupt()
{
    stopServoLoop();
    cleanupKinetors();
    exit(-1);
}

// The shutdown takes locks, frees memory and writes files, none of which may happen inside
// a signal handler: an interrupt landing in malloc or in one of the loop's own locks would
// hang the process with its motors still enabled. The handler therefore only wakes this
// thread, which runs the shutdown with SIGINT blocked.
void* interrupt_thread(void*)
{
    while (sem_wait(&g_semInterrupt) != 0) {
        if (errno != EINTR)
            return nullptr;
    }
    ShutdownOnInterrupt();
    return nullptr;
}

// Only async-signal-safe steps here: a semaphore post, lock-free flags, write and _exit.
void signal_handler(int)
{
    if (g_bInterruptThread.load()) {
        sem_post(&g_semInterrupt);
        return;
    }
    // No shutdown thread: a running servo thread ends its loop and then closes the devices
    // from thread context.
    g_bInterruptPending.store(true);
    g_servo_loop_done.store(true);
    if (g_bServoThreadActive.load())
        return;
    // Nobody is left who could close the devices safely; the amplifiers' own timeout
    // switches the motors off once their watchdog is no longer fed.
    static const char kMessage[] = "Interrupted: exiting without closing the devices\n";
    ssize_t nIgnored = write(STDERR_FILENO, kMessage, sizeof(kMessage) - 1);
    (void)nIgnored;
    _exit(-1);
}

// Starts the thread that carries out the shutdown. Called once, from initOSExtender.
void StartInterruptThread()
{
    if (!g_bInterruptThreadAllowed.load())
        return;
    if (sem_init(&g_semInterrupt, 0, 0) != 0)
        return;
    CInterruptBlock block;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return;
    pthread_t tid;
    if (pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED) == 0 &&
        pthread_create(&tid, &attr, interrupt_thread, nullptr) == 0)
        g_bInterruptThread.store(true);
    pthread_attr_destroy(&attr);
}

bool ContainsNoCase(const char* pszText, const char* pszWord)
{
    const size_t nWord = strlen(pszWord);
    for (const char* p = pszText; *p != '\0'; p++) {
        size_t i = 0;
        while (i < nWord && p[i] != '\0' &&
               tolower((unsigned char)p[i]) == tolower((unsigned char)pszWord[i]))
            i++;
        if (i == nWord)
            return true;
    }
    return false;
}

}  // namespace

bool SetServoProcPaths(const char* pszCpuInfo, const char* pszOsRelease)
{
    const char* pszCpu = pszCpuInfo != nullptr ? pszCpuInfo : kDefaultCpuInfoPath;
    const char* pszOs = pszOsRelease != nullptr ? pszOsRelease : kDefaultOsReleasePath;
    if (strlen(pszCpu) >= sizeof(g_szCpuInfoPath) || strlen(pszOs) >= sizeof(g_szOsReleasePath))
        return false;
    snprintf(g_szCpuInfoPath, sizeof(g_szCpuInfoPath), "%s", pszCpu);
    snprintf(g_szOsReleasePath, sizeof(g_szOsReleasePath), "%s", pszOs);
    return true;
}

bool is_mp_sys()
{
    FILE* pFile = fopen(g_szCpuInfoPath, "r");
    if (pFile == nullptr) {
        fprintf(stderr, "fopen FAILURE\n");
        return false;
    }
    // The file's size is not known in advance (proc files report 0), so read it whole
    // into ever larger buffers until one is not filled.
    char* pszBuffer = nullptr;
    for (size_t k = 1;; k++) {
        const size_t nCapacity = k * kProcReadStep;
        pszBuffer = static_cast<char*>(calloc(nCapacity + 1, 1));
        if (pszBuffer == nullptr) {
            fclose(pFile);
            return false;
        }
        rewind(pFile);
        const size_t nRead = fread(pszBuffer, 1, nCapacity, pFile);
        if (nRead < 1) {
            fprintf(stderr, "fread: bytes_read < 1\n");
            free(pszBuffer);
            fclose(pFile);
            return false;
        }
        pszBuffer[nRead] = '\0';
        if (nRead < nCapacity)
            break;
        free(pszBuffer);
    }
    fclose(pFile);

    const char* pszFirst = strstr(pszBuffer, "processor");
    const bool bResult = pszFirst != nullptr && strstr(pszFirst + 1, "processor") != nullptr;
    free(pszBuffer);
    return bResult;
}

bool is_smp_kernel()
{
    FILE* pFile = fopen(g_szOsReleasePath, "r");
    if (pFile == nullptr)
        return false;
    char szBuffer[kProcReadStep + 1];
    memset(szBuffer, 0, sizeof(szBuffer));
    const size_t nRead = fread(szBuffer, 1, kProcReadStep, pFile);
    fclose(pFile);
    szBuffer[nRead] = '\0';
    return ContainsNoCase(szBuffer, "smp");
}

void cleanupKinetors()
{
    for (int i = 0; i < CIOLibAPI::m_kinetorArray.GetSize(); i++) {
        CIOLibAPI* pLib = static_cast<CIOLibAPI*>(CIOLibAPI::m_kinetorArray.GetAt(i));
        if (pLib == nullptr)
            continue;
        pLib->DisableKinetor();
        delete pLib;
        // The object normally leaves the table itself; a stale entry must not survive it.
        if (CIOLibAPI::m_kinetorArray.GetAt(i) == pLib)
            CIOLibAPI::m_kinetorArray.SetAt(i, nullptr);
    }
}

uint64_t GetServoCycleTime() { return g_cycle_time.load(); }

void SetInterruptThreadAllowed(bool bAllowed)
{
    g_bInterruptThreadAllowed.store(bAllowed);
}

CServoLoopPause::CServoLoopPause() : m_bHolding(!t_bOnServoThread), m_bLoopAlive(true)
{
    if (!m_bHolding)
        return;
    pthread_mutex_lock(&mutex_servo_loop_pause);
    g_nPauseRequests++;
    g_nPausePending.fetch_add(1);
    while (g_bServoThreadAlive && !g_bServoParked)
        pthread_cond_wait(&cond_servo_loop_pause, &mutex_servo_loop_pause);
    m_bLoopAlive = g_bServoThreadAlive;
    pthread_mutex_unlock(&mutex_servo_loop_pause);
}

CServoLoopPause::~CServoLoopPause()
{
    // Counted before the loop is let go, so that it looks at the table again.
    g_nTableChanges.fetch_add(1);
    if (!m_bHolding)
        return;
    pthread_mutex_lock(&mutex_servo_loop_pause);
    g_nPauseRequests--;
    g_nPausePending.fetch_sub(1);
    pthread_cond_broadcast(&cond_servo_loop_pause);
    pthread_mutex_unlock(&mutex_servo_loop_pause);
}

extern "C" {

int initOSExtender(void)
{
    OSE_TRACE(3, "Entered");
    pthread_mutex_lock(&mutex_ose_initialize);
    if (g_ose_initialized.load()) {
        OSE_TRACE(2, "os extender already initialized");
    } else {
        StartInterruptThread();
        signal(SIGINT, signal_handler);
        if (is_mp_sys() && is_smp_kernel())
            setIsMPSystem(1);
        g_ose_initialized.store(true);
    }
    pthread_mutex_unlock(&mutex_ose_initialize);
    return 0;
}

int startServoLoop(int (*userCallback)(void*), void* userData)
{
    OSE_TRACE(3, "Entered");
    if (!g_ose_initialized.load()) {
        OSE_TRACE(1, "os extender not initialized");
        return -4;
    }

    // A start from one of the loop's own callbacks finds the loop already on its way; the
    // starter holds the start/stop lock until the first tick is done.
    if (t_bOnServoThread) {
        OSE_TRACE(1, "Servo loop already started");
        return 0;
    }

    CInterruptBlock block;
    pthread_mutex_lock(&mutex_servo_loop_start_stop);
    int nResult = 0;
    if (g_servo_loop_running.load()) {
        OSE_TRACE(1, "Servo loop already started");
    } else {
        ReapServoThread();
        g_servo_loop_done.store(false);
        CIOLibAPI* pFirst = FirstOpenDevice();
        if (pFirst == nullptr) {
            OSE_TRACE(1, "CIOLibAPI::m_kinetorArray.GetSize(): OSE_OSE_NOT_INITIALIZED");
            nResult = -4;
        } else {
            g_iolib = pFirst;
            SubmitAllClients(1);
            // Each run's figures start afresh; they stay readable after it ends.
            GetServoStats().Reset();
            globalUserCallback = userCallback;
            globalUserData = userData;

            if (CreateServoThread() != 0) {
                OSE_TRACE(1, "pthread_create failed");
                nResult = -1;
            } else {
                g_bServoThreadJoinable = true;
                pthread_mutex_lock(&mutex_servo_loop_start);
                while (!g_bServoLoopStarted && !g_bServoThreadEnded)
                    pthread_cond_wait(&cond_servo_loop_start, &mutex_servo_loop_start);
                const bool bStarted = g_bServoLoopStarted;
                pthread_mutex_unlock(&mutex_servo_loop_start);
                // The callback refused the very first tick: the loop never ran, and the
                // caller must not believe it did.
                if (!bStarted) {
                    OSE_TRACE(1, "Servo loop ended on its first tick");
                    ReapServoThread();
                    nResult = -1;
                }
            }
        }
    }
    pthread_mutex_unlock(&mutex_servo_loop_start_stop);
    return nResult;
}

void stopServoLoop(void)
{
    OSE_TRACE(3, "Entered");
    // From the tick callback the loop can only be asked to end: the thread cannot wait
    // for itself, and the starter may still hold the start/stop lock on the first tick.
    if (t_bOnServoThread) {
        g_servo_loop_done.store(true);
        return;
    }

    CInterruptBlock block;
    pthread_mutex_lock(&mutex_servo_loop_start_stop);
    if (g_servo_loop_running.load()) {
        g_servo_loop_done.store(true);
        if (pthread_join(servo_loop_tid, nullptr) != 0)
            OSE_TRACE(1, "pthread_join failed");
        else
            g_bServoThreadJoinable = false;
        SubmitAllClients(0);
        g_iolib = nullptr;
        globalUserCallback = nullptr;
        globalUserData = nullptr;
    } else {
        OSE_TRACE(2, "Servo loop already stopped\n");
        ReapServoThread();
    }
    pthread_mutex_unlock(&mutex_servo_loop_start_stop);
}

int setServoLoopRate(ULONG nUpdateRate)
{
    int nResult = -8;
    OSE_TRACE(3, "Entered");
    EnterCriticalSection(&cs);
    if (!g_ose_initialized.load()) {
        perror("setServoLoopRate: OS Extender not initialized, call initOSExtender() first");
        nResult = -4;
    } else if (g_servo_loop_running.load() || t_bOnServoThread) {
        perror("setServoLoopRate: Servo loop already started");
        nResult = -2;
    } else {
        CIOLibAPI* pFirst = FirstOpenDevice();
        if (pFirst == nullptr) {
            OSE_TRACE(1, "CIOLibAPI::m_kinetorArray.GetSize(): OSE_OSE_NOT_INITIALIZED");
            nResult = -4;
        } else if (pFirst->SetKinetorUpdateRate(nUpdateRate) < 0) {
            LOG("TID(%X, %d) CIOLibAPI::SetKinetorUpdateRate failed\n", (unsigned)pthread_self(),
                (int)getpid());
        } else if (nUpdateRate > 0) {
            g_cycle_time.store((uint64_t)((1000.0 / (double)nUpdateRate) * 1000000));
            nResult = 0;
        }
    }
    LeaveCriticalSection(&cs);
    return nResult;
}

double getServoLoopTimeStamp(void) { return gServoLoopTimer.GetTime(); }

int getServoLoopStats(KINETOR_SERVO_STATS* stats)
{
    if (stats == nullptr)
        return -9;
    GetServoStats().Read(stats);
    return 0;
}

void resetServoLoopStats(void) { GetServoStats().Reset(); }

void setPreServoCallback(int (*preCallback)(void*), void* userData)
{
    EnterCriticalSection(&cs);
    preServoCallback = preCallback;
    preServoUserData = userData;
    LeaveCriticalSection(&cs);
}

void setPostServoCallback(int (*postCallback)(void*), void* userData)
{
    EnterCriticalSection(&cs);
    postServoCallback = postCallback;
    postServoUserData = userData;
    LeaveCriticalSection(&cs);
}

void setServoErrorCallback(void (*errorCallback)(int, void*), void* userData)
{
    EnterCriticalSection(&cs);
    servoErrorCallback = errorCallback;
    servoErrorUserData = userData;
    LeaveCriticalSection(&cs);
}

}  // extern "C"
