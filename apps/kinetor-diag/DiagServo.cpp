#include "DiagServo.h"

#include <cmath>
#include <cstring>

#include "KinetorIO.h"
#include "KinetorServo.h"
#include "KinetorWin32.h"

namespace {

// A period longer than one and a half cycles means the tick came late or was lost.
const double kLateFactor = 1.5;
const unsigned long kDefaultRate = 1000;

}  // namespace

double DeviceClockSeconds()
{
    LARGE_INTEGER count;
    LARGE_INTEGER frequency;
    memset(&count, 0, sizeof(count));
    memset(&frequency, 0, sizeof(frequency));
    if (!QueryPerformanceCounter(&count) || !QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0)
        return 0.0;
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

CServoProbe::CServoProbe(int nHandle)
    : m_nHandle(nHandle), m_bRunning(false), m_dNominalPeriod(1.0 / kDefaultRate), m_dLast(-1.0),
      m_bResetRequested(true), m_bMoved(false), m_nTicks(0), m_nLate(0), m_nLost(0), m_nErrors(0),
      m_nLastError(0), m_dCounted(0.0)
{
    memset(m_anFirstEncoders, 0, sizeof(m_anFirstEncoders));
    memset(&m_snapshot, 0, sizeof(m_snapshot));
}

CServoProbe::~CServoProbe()
{
    Stop();
}

int CServoProbe::Start(unsigned long nRateHz)
{
    initOSExtender();
    if (nRateHz != 0) {
        int r = setServoLoopRate(nRateHz);
        if (r < 0)
            return r;
        m_dNominalPeriod = 1.0 / static_cast<double>(nRateHz);
    }
    int r = startServoLoop(Tick, this);
    if (r < 0)
        return r;
    m_bRunning = true;
    return 0;
}

void CServoProbe::Stop()
{
    if (m_bRunning)
        stopServoLoop();
    m_bRunning = false;
}

DIAG_SNAPSHOT CServoProbe::Snapshot()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_snapshot;
}

void CServoProbe::ResetCounters()
{
    m_nTicks = 0;
    m_nLate = 0;
    m_nLost = 0;
    m_nErrors = 0;
    m_nLastError = 0;
    m_dCounted = 0.0;
    m_bMoved = false;
    m_bResetRequested = true;
}

int CServoProbe::Tick(void* pData)
{
    return static_cast<CServoProbe*>(pData)->OnTick();
}

// Runs on the servo thread: no allocation, and the snapshot lock is only tried, never waited for.
int CServoProbe::OnTick()
{
    const double dNow = DeviceClockSeconds();
    int r = update_kinetor(m_nHandle);
    if (r < 0) {
        m_nErrors.fetch_add(1);
        m_nLastError = r;
    }
    DIAG_SNAPSHOT s;
    memset(&s, 0, sizeof(s));
    s.bValid = true;
    get_kinetor_pos(m_nHandle, s.afPos);
    get_kinetor_vel(m_nHandle, s.afVel);
    get_kinetor_temp(m_nHandle, s.afTemp);
    get_encoder_values(m_nHandle, s.anEncoders);
    s.anStylus[0] = get_stylus_switch(m_nHandle, 0);
    s.anStylus[1] = get_stylus_switch(m_nHandle, 1);
    s.nInkwell = get_inkwell_switch(m_nHandle);
    s.nPresence = get_stylus_presence(m_nHandle);
    s.nFault = unfiltered_device_fault(m_nHandle);
    s.nForcesEnabled = is_kinetor_forces_enabled(m_nHandle);
    s.fRate = get_kinetor_rate(m_nHandle);
    if (s.nForcesEnabled == 1) {
        // The check holds the arm with zero force: the watchdog and the amplifiers run, the
        // user feels nothing.
        float afZero[3] = {0.0f, 0.0f, 0.0f};
        r = send_kinetor_force(m_nHandle, afZero);
        if (r < 0) {
            m_nErrors.fetch_add(1);
            m_nLastError = r;
        }
    }
    if (m_bResetRequested.exchange(false)) {
        memcpy(m_anFirstEncoders, s.anEncoders, sizeof(m_anFirstEncoders));
        m_dLast = -1.0;
    } else if (memcmp(m_anFirstEncoders, s.anEncoders, sizeof(m_anFirstEncoders)) != 0) {
        m_bMoved = true;
    }
    if (m_dLast >= 0.0) {
        const double dPeriod = dNow - m_dLast;
        m_dCounted = m_dCounted.load() + dPeriod;
        if (dPeriod > kLateFactor * m_dNominalPeriod) {
            m_nLate.fetch_add(1);
            const double dMissed = std::floor(dPeriod / m_dNominalPeriod + 0.5) - 1.0;
            if (dMissed >= 1.0)
                m_nLost.fetch_add(static_cast<unsigned long>(dMissed));
        }
    }
    m_dLast = dNow;
    s.nTicks = m_nTicks.fetch_add(1) + 1;
    if (m_mutex.try_lock()) {
        m_snapshot = s;
        m_mutex.unlock();
    }
    return 0;
}
