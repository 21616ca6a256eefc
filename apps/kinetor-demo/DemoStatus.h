// The status line's figures, taken on the servo thread and handed to the main thread. The
// library's readers belong to the tick (the servo thread changes the state they copy while
// it updates), so the main thread never calls them itself while the loop runs.
#ifndef KINETOR_DEMO_STATUS_H
#define KINETOR_DEMO_STATUS_H

#include <mutex>

typedef struct _DEMO_STATUS {
    bool bValid;         // false until the first tick has published
    float fRate;         // achieved servo rate, Hz
    float afPos[3];      // stylus position, mm
    float fForce;        // magnitude of the force sent, N
    float fMotorTemp;    // modelled temperature of the first motor, deg C
} DEMO_STATUS;

class CDemoStatus {
public:
    CDemoStatus() : m_status() {}

    // Servo thread. Never waits: when the reader holds the copy, this tick's figures are
    // dropped and a later tick publishes instead.
    bool Publish(const DEMO_STATUS& status)
    {
        if (!m_mutex.try_lock())
            return false;
        m_status = status;
        m_status.bValid = true;
        m_mutex.unlock();
        return true;
    }

    DEMO_STATUS Read()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_status;
    }

private:
    std::mutex m_mutex;
    DEMO_STATUS m_status;
};

#endif
