// The servo loop against device doubles: a device model whose tick wait returns at once
// and counts, registered in the table of open devices through a real library object.
// Every test runs in scratch directories, away from the fixed configuration directory.

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <linux/capability.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>
#include <filesystem>
#include <string>
#include <string.h>

#include "KinetorServo.h"
#include "KinetorWin32.h"
#include "core/IOLibAPI.h"
#include "core/ServoLoop.h"
#include "device/HapticDevice.h"

namespace {

class CServoDeviceDouble : public CHapticDevice {
public:
    static const unsigned long kMaxRate = 2000;

    CServoDeviceDouble(CIOLibAPI* pLib, int nTag)
        : CHapticDevice(pLib->m_szKinetorName, 3, 0, false, &pLib->m_devData), m_nTag(nTag) {}

    int SubmitClient(bool bSet) override {
        (bSet ? m_nSubmitSet : m_nSubmitUnset)++;
        return 0;
    }
    void Await() override {
        m_nAwaits++;
        // A token pause, so that a real-time servo thread never monopolises a processor.
        struct timespec ts = {0, 50000};
        nanosleep(&ts, nullptr);
    }
    int SetKinetorUpdateRate(unsigned long rate) override {
        m_nRateRequests++;
        if (rate > kMaxRate)
            return -13;
        m_nRate = rate;
        return 0;
    }
    int EnableAmplifiers(bool bOn) override {
        // The SIGINT test reads this from the dying process's standard error.
        if (!bOn)
            fprintf(stderr, "amplifiers off %d\n", m_nTag);
        return 0;
    }

    int OpenConnection(int) override { return 0; }
    int CloseConnection() override { return 0; }
    int FlushConnection() override { return 0; }
    void* GetConnectionData() override { return nullptr; }
    int ResetEncoders() override { return 0; }
    int GetEncoders(short*) override { return 0; }
    int GetPinchValue(double&) override { return 0; }
    int EnableWatchDog(bool, bool) override { return 0; }
    int GetDeviceFault() override { return 0; }
    int GetSwitch(int) override { return 0; }
    int GetPresence() override { return 0; }
    int ZeroTorques() override { return 0; }
    int SendTorques(const unsigned short*) override { return 0; }
    int GetHardwareRevNum() override { return 0; }
    int GetInkwell() override { return 0; }
    int OverrideStatusLight(int) override { return 0; }
    int RestoreStatusLight() override { return 0; }
    int IsStatusLightEnabled() override { return 0; }
    int ReadStatusLight() override { return 0; }
    int GetDOF() override { return 3; }
    int UpdateKinetorJointAngles() override { return 0; }
    int UpdateKinetorEndpointTransform() override { return 0; }
    int UpdateKinetorJacobian() override { return 0; }
    int CalculateJointAngles(const long*, float*, bool) override { return 0; }
    int CalculateJointVelocities() override { return 0; }
    int CalculateEndpointTransform(float*, float[4][4], bool) override { return 0; }
    int CalculateKinetorVelocity(int) override { return 0; }
    int CalculateJointTorques(const float*, float*) override { return 0; }
    int CalculateMotorTorques(const float*, float*) override { return 0; }
    int WriteMotorVoltages(const float*, float*) override { return 0; }
    int WriteMotorTorques(bool) override { return 0; }
    int WriteMotorDACValues() override { return 0; }
    int CheckMotorTorques() override { return 0; }
    int CheckKinetorTemperature() override { return 0; }
    bool CheckRampForces() override { return false; }

    const int m_nTag;
    std::atomic<int> m_nAwaits{0};
    std::atomic<int> m_nSubmitSet{0};
    std::atomic<int> m_nSubmitUnset{0};
    std::atomic<int> m_nRateRequests{0};
    std::atomic<unsigned long> m_nRate{1000};
};

// A fresh configuration directory and an empty working directory for one test. A death
// test's child runs the test again in a new process; it finds the parent's directories
// through the environment and uses them instead of leaving its own behind.
class CScratchDirs {
public:
    CScratchDirs() {
        char szCwd[4096];
        m_strOldCwd = getcwd(szCwd, sizeof(szCwd)) != nullptr ? szCwd : "/";
        const char* pszInherited = getenv(kScratchVariable);
        if (pszInherited != nullptr) {
            m_strBase = pszInherited;
        } else {
            char szTemplate[] = "/tmp/servo-test-XXXXXX";
            if (mkdtemp(szTemplate) != nullptr) {
                m_strBase = szTemplate;
                m_bOwner = true;
                setenv(kScratchVariable, szTemplate, 1);
            }
        }
        std::error_code ec;
        std::filesystem::create_directories(Config(), ec);
        std::filesystem::create_directories(Work(), ec);
        setenv("KINETOR_CONFIG_FILES", Config().c_str(), 1);
        m_bMoved = chdir(Work().c_str()) == 0;
    }
    ~CScratchDirs() {
        if (m_bMoved && chdir(m_strOldCwd.c_str()) != 0)
            m_bMoved = false;
        if (m_bOwner) {
            unsetenv(kScratchVariable);
            std::error_code ec;
            std::filesystem::remove_all(m_strBase, ec);
        }
    }

    std::string Config() const { return m_strBase + "/config"; }
    std::string Work() const { return m_strBase + "/work"; }
    bool IsReady() const { return !m_strBase.empty() && m_bMoved; }

private:
    static constexpr const char* kScratchVariable = "SERVO_TEST_SCRATCH";

    std::string m_strOldCwd;
    std::string m_strBase;
    bool m_bOwner = false;
    bool m_bMoved = false;
};

// Puts a library object with a device double into slot nSlot of the table of open devices.
CIOLibAPI* RegisterServoDevice(int nSlot, CServoDeviceDouble** ppDevice)
{
    CIOLibAPI* pLib = new CIOLibAPI();
    CServoDeviceDouble* pDevice = new CServoDeviceDouble(pLib, nSlot);
    pLib->m_pDevice = pDevice;
    CIOLibAPI::m_kinetorArray.SetAtGrow(nSlot, pLib);
    if (ppDevice != nullptr)
        *ppDevice = pDevice;
    return pLib;
}

// Empties the table, destroying whatever library objects it still holds.
void ClearServoDevices()
{
    for (int i = 0; i < CIOLibAPI::m_kinetorArray.GetSize(); i++) {
        CIOLibAPI* pLib = static_cast<CIOLibAPI*>(CIOLibAPI::m_kinetorArray.GetAt(i));
        CIOLibAPI::m_kinetorArray.SetAt(i, nullptr);
        delete pLib;
    }
}

// What the servo thread saw, shared with the test's own thread.
struct TICK_LOG {
    std::mutex mutex;
    std::condition_variable cv;
    int nTicks = 0;
    int nFailOnTick = 0;       // the tick (from 1) on which the callback returns -1
    int nAwaitMismatches = 0;  // ticks that did not follow exactly one wait per earlier tick
    int nPre = 0;
    int nPost = 0;
    int nTicksAtPre = -1;
    int nPolicy = -1;
    int nPriority = -1;
    double fMinStamp = 1e9;
    double fMaxStamp = -1e9;
    std::thread::id preThread;
    std::thread::id tickThread;
    std::thread::id postThread;
    CServoDeviceDouble* pPacer = nullptr;
};

int TickCallback(void* pData)
{
    TICK_LOG* pLog = static_cast<TICK_LOG*>(pData);
    const double fStamp = getServoLoopTimeStamp();
    std::lock_guard<std::mutex> lock(pLog->mutex);
    const int nTick = ++pLog->nTicks;
    if (pLog->pPacer != nullptr && pLog->pPacer->m_nAwaits != nTick - 1)
        pLog->nAwaitMismatches++;
    pLog->fMinStamp = std::min(pLog->fMinStamp, fStamp);
    pLog->fMaxStamp = std::max(pLog->fMaxStamp, fStamp);
    if (nTick == 1) {
        pLog->tickThread = std::this_thread::get_id();
        struct sched_param param;
        if (pthread_getschedparam(pthread_self(), &pLog->nPolicy, &param) == 0)
            pLog->nPriority = param.sched_priority;
    }
    pLog->cv.notify_all();
    return nTick == pLog->nFailOnTick ? -1 : 0;
}

int PreCallback(void* pData)
{
    TICK_LOG* pLog = static_cast<TICK_LOG*>(pData);
    std::lock_guard<std::mutex> lock(pLog->mutex);
    pLog->nPre++;
    pLog->nTicksAtPre = pLog->nTicks;
    pLog->preThread = std::this_thread::get_id();
    return 0;
}

int PostCallback(void* pData)
{
    TICK_LOG* pLog = static_cast<TICK_LOG*>(pData);
    std::lock_guard<std::mutex> lock(pLog->mutex);
    pLog->nPost++;
    pLog->postThread = std::this_thread::get_id();
    pLog->cv.notify_all();
    return 0;
}

int IdleCallback(void*) { return 0; }

// Bounded wait for a condition on the log; false after a second without it.
template <typename Pred>
bool WaitFor(TICK_LOG& log, Pred pred)
{
    std::unique_lock<std::mutex> lock(log.mutex);
    return log.cv.wait_for(lock, std::chrono::seconds(1), [&] { return pred(log); });
}

bool WriteFile(const std::string& strPath, const std::string& strText)
{
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out << strText;
    return static_cast<bool>(out);
}

class ServoLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dirs.IsReady());
        ASSERT_EQ(0, initOSExtender());
        setPreServoCallback(PreCallback, &m_log);
        setPostServoCallback(PostCallback, &m_log);
    }
    void TearDown() override {
        stopServoLoop();
        setPreServoCallback(nullptr, nullptr);
        setPostServoCallback(nullptr, nullptr);
        ClearServoDevices();
    }

    CScratchDirs m_dirs;
    TICK_LOG m_log;
};

TEST_F(ServoLoopTest, EachTickRunsTheCallbackThenWaitsOnTheFirstOpenDevice)
{
    // Slot 0 stays free: the loop must pace on slot 1 and leave slot 3 alone.
    CServoDeviceDouble* pFirst = nullptr;
    CServoDeviceDouble* pOther = nullptr;
    RegisterServoDevice(1, &pFirst);
    RegisterServoDevice(3, &pOther);
    m_log.pPacer = pFirst;

    ASSERT_EQ(0, startServoLoop(TickCallback, &m_log));
    {
        // startServoLoop returns only once the first tick, wait included, is done.
        std::lock_guard<std::mutex> lock(m_log.mutex);
        EXPECT_GE(m_log.nTicks, 1);
        EXPECT_GE(pFirst->m_nAwaits, 1);
        EXPECT_EQ(1, m_log.nPre);
        EXPECT_EQ(0, m_log.nTicksAtPre);
        EXPECT_NE(std::this_thread::get_id(), m_log.preThread);
    }
    // A second start while running changes nothing: no second thread, no new callback.
    TICK_LOG other;
    EXPECT_EQ(0, startServoLoop(TickCallback, &other));
    EXPECT_EQ(1, pFirst->m_nSubmitSet);
    EXPECT_EQ(1, pOther->m_nSubmitSet);
    EXPECT_EQ(0, pFirst->m_nSubmitUnset);
    ASSERT_TRUE(WaitFor(m_log, [](TICK_LOG& l) { return l.nTicks >= 5; }));

    stopServoLoop();
    std::lock_guard<std::mutex> lock(m_log.mutex);
    EXPECT_EQ(1, m_log.nPre);
    EXPECT_EQ(1, m_log.nPost);
    EXPECT_EQ(0, other.nTicks);
    EXPECT_EQ(m_log.preThread, m_log.tickThread);
    EXPECT_EQ(m_log.preThread, m_log.postThread);
    EXPECT_EQ(0, m_log.nAwaitMismatches);
    EXPECT_EQ(m_log.nTicks, pFirst->m_nAwaits);
    EXPECT_EQ(0, pOther->m_nAwaits);
    EXPECT_EQ(1, pFirst->m_nSubmitUnset);
    EXPECT_EQ(1, pOther->m_nSubmitUnset);
    EXPECT_GE(m_log.fMinStamp, 0.0);
    EXPECT_LT(m_log.fMaxStamp, 0.5);
}

TEST_F(ServoLoopTest, StopWhenStoppedChangesNothingAndTheLoopRestarts)
{
    CServoDeviceDouble* pDevice = nullptr;
    RegisterServoDevice(0, &pDevice);
    stopServoLoop();
    EXPECT_EQ(0, pDevice->m_nSubmitUnset);
    EXPECT_EQ(0, m_log.nPost);

    for (int nRun = 1; nRun <= 2; nRun++) {
        ASSERT_EQ(0, startServoLoop(TickCallback, &m_log));
        ASSERT_TRUE(WaitFor(m_log, [](TICK_LOG& l) { return l.nTicks >= 2; }));
        stopServoLoop();
        std::lock_guard<std::mutex> lock(m_log.mutex);
        EXPECT_EQ(nRun, m_log.nPre);
        EXPECT_EQ(nRun, m_log.nPost);
        EXPECT_EQ(nRun, pDevice->m_nSubmitSet);
        EXPECT_EQ(nRun, pDevice->m_nSubmitUnset);
        m_log.nTicks = 0;
    }
}

TEST_F(ServoLoopTest, NegativeCallbackEndsTheLoopAfterItsTick)
{
    CServoDeviceDouble* pDevice = nullptr;
    RegisterServoDevice(0, &pDevice);
    m_log.nFailOnTick = 3;
    ASSERT_EQ(0, startServoLoop(TickCallback, &m_log));
    ASSERT_TRUE(WaitFor(m_log, [](TICK_LOG& l) { return l.nPost == 1; }));
    {
        std::lock_guard<std::mutex> lock(m_log.mutex);
        EXPECT_EQ(3, m_log.nTicks);
        EXPECT_EQ(1, m_log.nPre);
    }
    // The refused tick ends without a wait.
    EXPECT_EQ(2, pDevice->m_nAwaits);

    // The loop is already over: stopping only logs, and a new start runs again.
    stopServoLoop();
    EXPECT_EQ(0, pDevice->m_nSubmitUnset);
    m_log.nFailOnTick = 0;
    ASSERT_EQ(0, startServoLoop(TickCallback, &m_log));
    ASSERT_TRUE(WaitFor(m_log, [](TICK_LOG& l) { return l.nTicks >= 5; }));
    stopServoLoop();
    EXPECT_EQ(2, m_log.nPost);
    EXPECT_EQ(1, pDevice->m_nSubmitUnset);
}

TEST_F(ServoLoopTest, CallbackRefusingTheFirstTickDoesNotLeaveStartWaiting)
{
    CServoDeviceDouble* pDevice = nullptr;
    RegisterServoDevice(0, &pDevice);
    m_log.nFailOnTick = 1;
    std::future<int> start =
        std::async(std::launch::async, [this] { return startServoLoop(TickCallback, &m_log); });
    if (start.wait_for(std::chrono::seconds(1)) != std::future_status::ready) {
        ADD_FAILURE() << "startServoLoop still waiting for a loop that has ended";
        fflush(nullptr);
        _exit(1);
    }
    EXPECT_EQ(-1, start.get());
    {
        std::lock_guard<std::mutex> lock(m_log.mutex);
        EXPECT_EQ(1, m_log.nTicks);
        EXPECT_EQ(1, m_log.nPost);
    }
    EXPECT_EQ(0, pDevice->m_nAwaits);
    // Not running: a rate change is allowed, and the loop can be started properly.
    EXPECT_EQ(0, setServoLoopRate(1000));
    stopServoLoop();
    m_log.nFailOnTick = 0;
    ASSERT_EQ(0, startServoLoop(TickCallback, &m_log));
    ASSERT_TRUE(WaitFor(m_log, [](TICK_LOG& l) { return l.nTicks >= 3; }));
    stopServoLoop();
    EXPECT_EQ(2, m_log.nPost);
}

TEST_F(ServoLoopTest, RateChangeIsRefusedWhileRunning)
{
    CServoDeviceDouble* pDevice = nullptr;
    RegisterServoDevice(0, &pDevice);
    const uint64_t nCycle = GetServoCycleTime();
    ASSERT_EQ(0, startServoLoop(IdleCallback, nullptr));
    EXPECT_EQ(-2, setServoLoopRate(1000));
    EXPECT_EQ(0, pDevice->m_nRateRequests);
    EXPECT_EQ(nCycle, GetServoCycleTime());
    stopServoLoop();
    EXPECT_EQ(0, setServoLoopRate(1000));
}

TEST_F(ServoLoopTest, RateGoesToTheFirstOpenDeviceWithinItsRange)
{
    CServoDeviceDouble* pFirst = nullptr;
    CServoDeviceDouble* pOther = nullptr;
    RegisterServoDevice(1, &pFirst);
    RegisterServoDevice(3, &pOther);
    ASSERT_EQ(0, setServoLoopRate(1000));
    ASSERT_EQ(1000000u, GetServoCycleTime());

    // Below 500 the library object refuses before asking the device.
    EXPECT_EQ(-8, setServoLoopRate(499));
    EXPECT_EQ(1000000u, GetServoCycleTime());
    EXPECT_EQ(1, pFirst->m_nRateRequests);

    // Above what the device can do, the device refuses.
    EXPECT_EQ(-8, setServoLoopRate(CServoDeviceDouble::kMaxRate + 1));
    EXPECT_EQ(1000000u, GetServoCycleTime());
    EXPECT_EQ(1000u, pFirst->m_nRate);

    EXPECT_EQ(0, setServoLoopRate(500));
    EXPECT_EQ(2000000u, GetServoCycleTime());
    EXPECT_EQ(500u, pFirst->m_nRate);
    EXPECT_EQ(0, setServoLoopRate(700));  // 1428571.43 ns, truncated
    EXPECT_EQ(1428571u, GetServoCycleTime());

    EXPECT_EQ(0, pOther->m_nRateRequests);
    EXPECT_EQ(1000u, pOther->m_nRate);
    EXPECT_EQ(0, setServoLoopRate(1000));
}

// What an overrunning loop saw: the device's wait count at the start of every tick.
struct OVERRUN_LOG {
    CServoDeviceDouble* pDevice = nullptr;
    int nTicks = 0;
    int nOverrunTick = 0;   // the tick (from 1) that uses up more than its cycle
    int anAwaitsAtTick[8] = {0, 0, 0, 0, 0, 0, 0, 0};
};

// Process CPU time in nanoseconds, the clock the loop judges an overrun by.
int64_t CpuNanoseconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return (int64_t)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

int OverrunCallback(void* pData)
{
    OVERRUN_LOG* pLog = static_cast<OVERRUN_LOG*>(pData);
    const int nTick = ++pLog->nTicks;
    pLog->anAwaitsAtTick[nTick] = pLog->pDevice->m_nAwaits;
    if (nTick == pLog->nOverrunTick) {
        // Three milliseconds of work against a two-millisecond cycle.
        const int64_t nStart = CpuNanoseconds();
        while (CpuNanoseconds() - nStart < 3000000) {
        }
    }
    return nTick >= 5 ? -1 : 0;
}

TEST_F(ServoLoopTest, TickThatUsedUpItsCycleGoesOnWithoutWaiting)
{
    CServoDeviceDouble* pDevice = nullptr;
    RegisterServoDevice(0, &pDevice);
    ASSERT_EQ(0, setServoLoopRate(500));
    ASSERT_EQ(2000000u, GetServoCycleTime());

    OVERRUN_LOG log;
    log.pDevice = pDevice;
    log.nOverrunTick = 3;
    ASSERT_EQ(0, startServoLoop(OverrunCallback, &log));
    ASSERT_TRUE(WaitFor(m_log, [](TICK_LOG& l) { return l.nPost == 1; }));
    ASSERT_EQ(5, log.nTicks);
    EXPECT_EQ(0, log.anAwaitsAtTick[1]);
    EXPECT_EQ(1, log.anAwaitsAtTick[2]);
    EXPECT_EQ(2, log.anAwaitsAtTick[3]);
    EXPECT_EQ(2, log.anAwaitsAtTick[4]);   // no wait after the overrun
    EXPECT_EQ(3, log.anAwaitsAtTick[5]);
    EXPECT_EQ(3, pDevice->m_nAwaits);       // and none after the refused last tick
    EXPECT_EQ(0, setServoLoopRate(1000));
}

TEST_F(ServoLoopTest, NothingStartsWithoutAnOpenDevice)
{
    EXPECT_EQ(-4, startServoLoop(TickCallback, &m_log));
    EXPECT_EQ(-4, setServoLoopRate(1000));
    EXPECT_EQ(0, m_log.nPre);
    EXPECT_EQ(0, m_log.nTicks);
}

TEST_F(ServoLoopTest, ServoThreadIsRealTimeWhenAllowedAndUserIdIsKept)
{
    // Whether this process may create a SCHED_FIFO thread at all, found independently.
    pthread_attr_t attr;
    ASSERT_EQ(0, pthread_attr_init(&attr));
    struct sched_param param;
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED);
    pthread_attr_setschedpolicy(&attr, SCHED_FIFO);
    pthread_attr_setschedparam(&attr, &param);
    pthread_t probe;
    const bool bRealtimeAllowed =
        pthread_create(&probe, &attr, [](void*) -> void* { return nullptr; }, nullptr) == 0;
    if (bRealtimeAllowed)
        pthread_join(probe, nullptr);
    pthread_attr_destroy(&attr);

    RegisterServoDevice(0, nullptr);
    const uid_t nEffectiveUid = geteuid();
    ASSERT_EQ(0, startServoLoop(TickCallback, &m_log));
    EXPECT_EQ(nEffectiveUid, geteuid());
    stopServoLoop();

    if (bRealtimeAllowed && nEffectiveUid == 0) {
        EXPECT_EQ(SCHED_FIFO, m_log.nPolicy);
        EXPECT_EQ(sched_get_priority_max(SCHED_FIFO), m_log.nPriority);
    } else {
        EXPECT_EQ(SCHED_OTHER, m_log.nPolicy);
    }
}

// Multiprocessor probes on prepared files instead of /proc.
class ServoProcProbeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dirs.IsReady()); }
    void TearDown() override { SetServoProcPaths(nullptr, nullptr); }

    bool CpuInfoSaysMP(const std::string& strText) {
        const std::string strPath = m_dirs.Work() + "/cpuinfo";
        EXPECT_TRUE(WriteFile(strPath, strText));
        EXPECT_TRUE(SetServoProcPaths(strPath.c_str(), nullptr));
        return is_mp_sys();
    }
    bool ReleaseSaysSmp(const std::string& strText) {
        const std::string strPath = m_dirs.Work() + "/osrelease";
        EXPECT_TRUE(WriteFile(strPath, strText));
        EXPECT_TRUE(SetServoProcPaths(nullptr, strPath.c_str()));
        return is_smp_kernel();
    }

    CScratchDirs m_dirs;
};

// cpuinfo-like text of nSize bytes: the given entries first, filler lines after them.
std::string PaddedCpuInfo(const std::string& strEntries, size_t nSize)
{
    std::string strText = strEntries;
    while (strText.size() < nSize)
        strText += strText.size() + 1 == nSize ? "\n" : "f";
    return strText.substr(0, nSize);
}

TEST_F(ServoProcProbeTest, CpuInfoNeedsTwoProcessorEntries)
{
    EXPECT_TRUE(CpuInfoSaysMP("processor\t: 0\nvendor_id\t: x\nprocessor\t: 1\n"));
    EXPECT_FALSE(CpuInfoSaysMP("processor\t: 0\nvendor_id\t: x\nmodel name\t: y\n"));

    // Exactly one buffer's worth: the probe must read on to find the end of the file.
    const std::string strExact = PaddedCpuInfo("processor\t: 0\nprocessor\t: 1\n", 1024);
    ASSERT_EQ(1024u, strExact.size());
    EXPECT_TRUE(CpuInfoSaysMP(strExact));

    // The second entry well beyond the first two buffers.
    std::string strLong = PaddedCpuInfo("processor\t: 0\n", 2500) + "\nprocessor\t: 1\n";
    EXPECT_TRUE(CpuInfoSaysMP(strLong));
    EXPECT_FALSE(CpuInfoSaysMP(PaddedCpuInfo("processor\t: 0\n", 3000)));
}

TEST_F(ServoProcProbeTest, UnreadableCpuInfoMeansSingleProcessor)
{
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(CpuInfoSaysMP(""));
    EXPECT_EQ("fread: bytes_read < 1\n", ::testing::internal::GetCapturedStderr());

    const std::string strMissing = m_dirs.Work() + "/no-such-file";
    ASSERT_TRUE(SetServoProcPaths(strMissing.c_str(), nullptr));
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(is_mp_sys());
    EXPECT_EQ("fopen FAILURE\n", ::testing::internal::GetCapturedStderr());
}

TEST_F(ServoProcProbeTest, KernelReleaseIsSmpInAnyLetterCase)
{
    EXPECT_TRUE(ReleaseSaysSmp("2.4.20-8smp\n"));
    EXPECT_TRUE(ReleaseSaysSmp("2.6.9-11.ELSMP\n"));
    EXPECT_TRUE(ReleaseSaysSmp("2.6.5-7.sMp\n"));
    EXPECT_FALSE(ReleaseSaysSmp("6.1.0-13-amd64\n"));
    EXPECT_FALSE(ReleaseSaysSmp("2.6.9-sm p\n"));
    // Only the first 1024 bytes count.
    EXPECT_FALSE(ReleaseSaysSmp(std::string(1100, 'a') + "smp\n"));
    EXPECT_TRUE(ReleaseSaysSmp(std::string(1021, 'a') + "smp\n"));

    const std::string strMissing = m_dirs.Work() + "/no-such-file";
    ASSERT_TRUE(SetServoProcPaths(nullptr, strMissing.c_str()));
    EXPECT_FALSE(is_smp_kernel());
}

// These run in a fresh process each, where initOSExtender has not been called yet.
TEST(ServoLoopDeathTest, NothingRunsBeforeInitialisation)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    CScratchDirs dirs;
    ASSERT_TRUE(dirs.IsReady());
    EXPECT_EXIT(
        {
            CServoDeviceDouble* pDevice = nullptr;
            RegisterServoDevice(0, &pDevice);
            const bool bRefused = startServoLoop(IdleCallback, nullptr) == -4 &&
                                  setServoLoopRate(1000) == -4 && pDevice->m_nSubmitSet == 0 &&
                                  pDevice->m_nRateRequests == 0;
            _exit(bRefused ? 0 : 1);
        },
        ::testing::ExitedWithCode(0),
        "setServoLoopRate: OS Extender not initialized, call initOSExtender\\(\\) first: ");
}

TEST(ServoLoopDeathTest, InitialisationSwitchesToMultiprocessorOnlyWhenBothProbesAgree)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    CScratchDirs dirs;
    ASSERT_TRUE(dirs.IsReady());
    const std::string strTwo = dirs.Work() + "/cpu2";
    const std::string strOne = dirs.Work() + "/cpu1";
    const std::string strSmp = dirs.Work() + "/smp";
    const std::string strPlain = dirs.Work() + "/plain";
    ASSERT_TRUE(WriteFile(strTwo, "processor\t: 0\nprocessor\t: 1\n"));
    ASSERT_TRUE(WriteFile(strOne, "processor\t: 0\n"));
    ASSERT_TRUE(WriteFile(strSmp, "2.4.20-8smp\n"));
    ASSERT_TRUE(WriteFile(strPlain, "6.1.0-13-amd64\n"));

    auto mpAfterInit = [](const std::string& strCpu, const std::string& strRelease) {
        SetServoProcPaths(strCpu.c_str(), strRelease.c_str());
        initOSExtender();
        _exit(g_mp_system ? 10 : 20);
    };
    EXPECT_EXIT(mpAfterInit(strTwo, strSmp), ::testing::ExitedWithCode(10), "");
    EXPECT_EXIT(mpAfterInit(strOne, strSmp), ::testing::ExitedWithCode(20), "");
    EXPECT_EXIT(mpAfterInit(strTwo, strPlain), ::testing::ExitedWithCode(20), "");
}

// Turns this process into a program that started as root and runs as an ordinary user:
// real and effective user id "nobody", saved user id root, and no right to real-time
// scheduling left. Returns false when the process is not allowed to do so.
bool BecomeUserWithoutRealtime()
{
    struct __user_cap_header_struct header;
    struct __user_cap_data_struct data[2];
    memset(&header, 0, sizeof(header));
    memset(data, 0, sizeof(data));
    header.version = _LINUX_CAPABILITY_VERSION_3;
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    data[0].effective &= ~(1u << CAP_SYS_NICE);
    data[0].permitted &= ~(1u << CAP_SYS_NICE);
    data[0].inheritable &= ~(1u << CAP_SYS_NICE);
    struct rlimit limit = {0, 0};
    return syscall(SYS_capset, &header, data) == 0 && setrlimit(RLIMIT_RTPRIO, &limit) == 0 &&
           setresuid(65534, 65534, 0) == 0;
}

bool CanBecomeUserWithoutRealtime()
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(BecomeUserWithoutRealtime() ? 0 : 1);
    int nStatus = 0;
    return pid > 0 && waitpid(pid, &nStatus, 0) == pid && WIFEXITED(nStatus) &&
           WEXITSTATUS(nStatus) == 0;
}

TEST(ServoLoopDeathTest, RefusedRealtimeFallsBackAndTheUserIdIsRestored)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    if (geteuid() != 0 || !CanBecomeUserWithoutRealtime())
        GTEST_SKIP() << "needs root that may change its user id";
    CScratchDirs dirs;
    ASSERT_TRUE(dirs.IsReady());
    EXPECT_EXIT(
        {
            TICK_LOG log;
            if (!BecomeUserWithoutRealtime())
                _exit(2);
            initOSExtender();
            RegisterServoDevice(0, nullptr);
            const int nStart = startServoLoop(TickCallback, &log);
            const uid_t nEffectiveUid = geteuid();
            stopServoLoop();
            fprintf(stderr, "start %d euid %d policy %d\n", nStart, (int)nEffectiveUid, log.nPolicy);
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "start 0 euid 65534 policy 0\n");
}

int AnnounceEnd(void*)
{
    fprintf(stderr, "servo loop ended\n");
    return 0;
}

TEST(ServoLoopDeathTest, InterruptStopsTheLoopAndClosesEveryDevice)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    CScratchDirs dirs;
    ASSERT_TRUE(dirs.IsReady());
    EXPECT_EXIT(
        {
            initOSExtender();
            RegisterServoDevice(0, nullptr);
            RegisterServoDevice(2, nullptr);
            setPostServoCallback(AnnounceEnd, nullptr);
            if (startServoLoop(IdleCallback, nullptr) != 0)
                _exit(3);
            kill(getpid(), SIGINT);
            // The shutdown runs on the library's own thread; give it up to a second.
            for (int i = 0; i < 100; i++)
                usleep(10000);
            _exit(4);
        },
        ::testing::ExitedWithCode(255),
        "servo loop ended\n(.|\n)*amplifiers off 0\n(.|\n)*amplifiers off 2\n");
}

}  // namespace
