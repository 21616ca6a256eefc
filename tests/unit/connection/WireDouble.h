// A block connection whose wire is a script: each exchange takes the next scripted input
// block (the last one repeats) and records the output block that went out.
#ifndef TEST_WIRE_DOUBLE_H
#define TEST_WIRE_DOUBLE_H

#include <deque>
#include <vector>

#include "connection/BlockConnection.h"

class CWireDouble : public CBlockConnection {
public:
    CWireDouble(int nCardType = 4, ULONG nUnit = 0) : CBlockConnection(nCardType, nUnit) {}

    int AllocateConnection(int nChannel) override { return CBlockConnection::AllocateConnection(nChannel); }
    int DeleteConnection() override { return CBlockConnection::DeleteConnection(); }

    BOOLEAN PortTalkTest() override { m_nTalkTests++; return m_bTalks; }
    BOOLEAN ReadBlock(_PORT_INPUT* pBuffer, int nLen, BOOLEAN bReverse) override
    {
        (void)pBuffer; (void)nLen; (void)bReverse;
        return TRUE;
    }
    BOOLEAN WriteBlock(_PORT_OUTPUT* pBuffer, int nLen) override
    {
        (void)pBuffer; (void)nLen;
        return TRUE;
    }
    BOOLEAN ReadKinetorData(_PORT_INPUT* pRegsIn, _PORT_OUTPUT* pRegsOut) override
    {
        if (!m_queue.empty()) {
            m_last = m_queue.front();
            m_queue.pop_front();
        }
        *pRegsIn = m_last;
        return CBlockConnection::ReadKinetorData(pRegsIn, pRegsOut);
    }
    BOOLEAN WriteKinetorData(_PORT_OUTPUT* pRegsOut) override
    {
        m_written.push_back(*pRegsOut);
        return TRUE;
    }
    BOOLEAN ReadWriteKinetorData(BOOLEAN bFlushOnly) override
    {
        m_nExchanges++;
        ReadKinetorData(&m_regsIn, &m_regsOut);
        if (CommunicationError())
            return FALSE;
        WriteKinetorData(&m_regsOut);
        return CBlockConnection::ReadWriteKinetorData(bFlushOnly);
    }
    void ManageWatchdog(_PORT_INPUT* pRegsIn, _PORT_OUTPUT* pRegsOut) override
    {
        m_nWatchdogCalls++;
        pRegsOut->ucWatchdogCntrOut = static_cast<UCHAR>(pRegsIn->ucWatchdogCntrIn + 1);
    }

    // Script.
    void Push(const _PORT_INPUT& in) { m_queue.push_back(in); }
    void SetIdle(const _PORT_INPUT& in) { m_last = in; }
    size_t Pending() const { return m_queue.size(); }
    // Runs full exchanges until the script is used up.
    void RunScript()
    {
        while (!m_queue.empty())
            FlushConnection(FALSE);
    }

    // State the tests look at or arrange.
    const _PORT_INPUT& In() const { return m_regsIn; }
    const _PORT_OUTPUT& Out() const { return m_regsOut; }
    LONG Offset(int i) const { return m_alEncOffsets[i]; }
    LONG OffsetVel(int i) const { return m_alEncOffsetsVel[i]; }
    LONG Calc(int i) const { return m_alEncOffsetsCalc[i]; }
    LONG CalcVel(int i) const { return m_alEncOffsetsCalcVel[i]; }
    bool Valid(int i) const { return m_bEncOffsetsValid[i] != 0; }
    bool Incorrect(int i) const { return m_bEncOffsetsIncorrect[i] != 0; }
    bool AutoCalibrate() const { return m_bAutoCalibrate != 0; }
    int Flags(int nAxis) const { return m_asdAxisSensorData[nAxis].nFlags; }
    int Gaps(int nAxis) const { return m_asdAxisSensorData[nAxis].nGaps; }
    const char* Name() const { return m_pszName; }
    void SetCantCommunicate(bool b) { m_bCantCommunicate = b ? TRUE : FALSE; }
    void SetWatchdogErrors(int n) { m_nWatchdogErrors = n; }
    void SetRegsIn(const _PORT_INPUT& in) { m_regsIn = in; }

    bool m_bTalks = true;
    int m_nTalkTests = 0;
    int m_nExchanges = 0;
    int m_nWatchdogCalls = 0;
    std::vector<_PORT_OUTPUT> m_written;

private:
    std::deque<_PORT_INPUT> m_queue;
    _PORT_INPUT m_last = {};
};

// An input block of a running device: watchdog satisfied, no fault, every home-sensor bit
// set (no flag seen, home sensors inactive), stylus absent, switch released.
inline _PORT_INPUT QuietBlock()
{
    _PORT_INPUT in = {};
    in.ucMiscIn = 0x40 | 0x1C | 0x02 | 0x01;
    in.usPot0 = 1000;
    return in;
}

#endif
