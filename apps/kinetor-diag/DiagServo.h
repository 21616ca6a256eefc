// Runs the library's servo loop on one open device and keeps what the tool shows and
// checks: a snapshot of the arm's state, and the tick periods measured on the device clock
// (simulated time in lockstep), so lost and late ticks count the same on either pace.
#ifndef DIAG_SERVO_H
#define DIAG_SERVO_H

#include <atomic>
#include <mutex>

typedef struct _DIAG_SNAPSHOT {
    bool bValid;
    float afPos[3];         // mm
    float afVel[3];         // mm/s
    float afTemp[3];        // motor temperatures, degrees C
    long anEncoders[6];
    int anStylus[2];        // stylus switches
    int nInkwell;
    int nPresence;
    int nFault;             // unfiltered device fault
    int nForcesEnabled;
    float fRate;            // Hz, the library's own estimate
    unsigned long nTicks;
} DIAG_SNAPSHOT;

class CServoProbe {
public:
    explicit CServoProbe(int nHandle);
    ~CServoProbe();

    // Starts the loop at nRateHz (0: the device's own rate); 0, or the library's code.
    int Start(unsigned long nRateHz);
    void Stop();

    DIAG_SNAPSHOT Snapshot();
    // Counters since the last ResetCounters.
    void ResetCounters();
    unsigned long Ticks() const { return m_nTicks.load(); }
    unsigned long LateTicks() const { return m_nLate.load(); }
    unsigned long LostTicks() const { return m_nLost.load(); }
    unsigned long UpdateErrors() const { return m_nErrors.load(); }
    int LastError() const { return m_nLastError.load(); }
    // Seconds of device clock covered by the counted ticks.
    double CountedSeconds() const { return m_dCounted.load(); }
    // True once an encoder read differently from the first reading after the last reset.
    bool EncodersMoved() const { return m_bMoved.load(); }

private:
    static int Tick(void* pData);
    int OnTick();

    int m_nHandle;
    bool m_bRunning;
    double m_dNominalPeriod;
    double m_dLast;
    long m_anFirstEncoders[6];
    std::atomic<bool> m_bResetRequested;
    std::atomic<bool> m_bMoved;
    std::atomic<unsigned long> m_nTicks;
    std::atomic<unsigned long> m_nLate;
    std::atomic<unsigned long> m_nLost;
    std::atomic<unsigned long> m_nErrors;
    std::atomic<int> m_nLastError;
    std::atomic<double> m_dCounted;
    std::mutex m_mutex;
    DIAG_SNAPSHOT m_snapshot;
};

// Seconds on the library's device clock.
double DeviceClockSeconds();

#endif
