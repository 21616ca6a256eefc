// The wire-independent half of the block transports.
#include "connection/BlockConnection.h"

#include <pthread.h>
#include <string.h>
#include <unistd.h>

#include "config/KinetorDevice.h"
#include "platform/TimeSample.h"
#include "platform/Trace.h"

namespace {

// Light codes of the automatic states, by state; INVALID_LIGHT_STATE leaves the bits clear.
const int kEPPLightCodes[3] = {6, 5, 2};
const int k1394LightCodes[3] = {3, 0, 1};

// Card type of the FireWire transport, the only block transport with its own light codes.
const int kCardType1394 = 6;

// Raw pinch values up to this one read as 0; the switch derived from the pinch channel is
// pressed below kPinchSwitchLimit.
const USHORT kPinchDeadBand = 25;
const USHORT kPinchSwitchLimit = 25;

// The stylus switch is a real switch (not derived from the pinch channel) for this handle
// type.
const short kNotPinchCapable = 3;

// 20 ms of polling for the amplifier handshake.
const int kAmplifierLoopLength = 20;
const int kAmplifierPollDelay = 1;

// Subtracts an offset from a 16-bit count with the wrap-around the counters have.
USHORT SubtractOffset(USHORT usCount, LONG lOffset)
{
    return static_cast<USHORT>(static_cast<unsigned long>(usCount) -
                               static_cast<unsigned long>(lOffset));
}

SHORT AsShort(USHORT us)
{
    return static_cast<SHORT>(us);
}

}  // namespace

CBlockConnection::CBlockConnection(int nCardType, ULONG nUnit)
    : CHapticConnection(nCardType),
      m_pasiAxisSensorInfo(nullptr),
      m_nCycleNum(0),
      m_nCounter(0),
      m_bAutoCalibrate(TRUE),
      m_nUnit(nUnit),
      m_nWatchdogErrors(0),
      m_bCantCommunicate(FALSE),
      m_nUpdateRate(1000),
      m_bLEDOverride(FALSE),
      m_nLEDStatus(AMPLIFIERS_DISABLED),
      m_nUserLEDStatus(0)
{
    LOGV("TID(%X, %d) CBlockConnection CBlockConnection\n", (unsigned)pthread_self(), (int)getpid());
    m_pszName[0] = '\0';
    memset(&m_regsIn, 0, sizeof(m_regsIn));
    memset(&m_regsOut, 0, sizeof(m_regsOut));
    memset(m_asdAxisSensorData, 0, sizeof(m_asdAxisSensorData));
    memset(m_alEncOffsetsRef, 0, sizeof(m_alEncOffsetsRef));
    memset(m_bHomeSensorState, 0, sizeof(m_bHomeSensorState));
    for (int i = 0; i < 3; i++) {
        m_alEncoderOn[i] = BLOCK_UNKNOWN_VELOCITY;
        m_alEncoderOff[i] = BLOCK_UNKNOWN_VELOCITY;
        m_alEncoderOnVel[i] = 0;
        m_alEncoderOffVel[i] = 0;
        m_alLastEncoder[i] = 0;
    }
    m_regsOut.usDToA0 = BLOCK_DAC_ZERO;
    m_regsOut.usDToA1 = BLOCK_DAC_ZERO;
    m_regsOut.usDToA2 = BLOCK_DAC_ZERO;
    m_pDToAs[0] = &m_regsOut.usDToA0;
    m_pDToAs[1] = &m_regsOut.usDToA1;
    m_pDToAs[2] = &m_regsOut.usDToA2;
    ResetCalibration();
    ClearSensorData();
    m_pasiAxisSensorInfo = nullptr;
}

// The flag and gap records belong to the connection; a connection destroyed without
// DeleteConnection must not leak them.
CBlockConnection::~CBlockConnection()
{
    FreeSensorData();
}

int CBlockConnection::AllocateConnection(int nChannel)
{
    LOGV("TID(%X, %d) CBlockConnection AllocateConnection\n", (unsigned)pthread_self(), (int)getpid());
    m_nChannel = nChannel;
    if (nChannel != 0 && nChannel != 1)
        return -6;
    if (m_nUnit > 3)
        return -12;
    m_pszName[0] = '\0';
    m_regsOut.usDToA0 = BLOCK_DAC_ZERO;
    m_regsOut.usDToA1 = BLOCK_DAC_ZERO;
    m_regsOut.usDToA2 = BLOCK_DAC_ZERO;
    ResetCommunicationErrors();
    return 1;
}

int CBlockConnection::DeleteConnection()
{
    LOGV("TID(%X, %d) CBlockConnection DeleteConnection\n", (unsigned)pthread_self(), (int)getpid());
    FreeSensorData();
    return 1;
}

int CBlockConnection::FlushConnection(BOOLEAN bFlushOnly)
{
    return ReadWriteKinetorData(bFlushOnly) ? 1 : -15;
}

void* CBlockConnection::GetConnectionData()
{
    return this;
}

int CBlockConnection::ResetBaseEncoders()
{
    m_regsOut.ucMiscOut |= BLOCK_MISCOUT_ENCODER_RESET;
    BOOLEAN bOk = ReadWriteKinetorData(TRUE);
    m_regsOut.ucMiscOut &= static_cast<UCHAR>(~BLOCK_MISCOUT_ENCODER_RESET);
    return bOk ? 1 : -15;
}

int CBlockConnection::ResetGimbalEncoders()
{
    m_regsOut.ucMiscOut |= BLOCK_MISCOUT_ENCODER_RESET;
    BOOLEAN bOk = ReadWriteKinetorData(TRUE);
    m_regsOut.ucMiscOut &= static_cast<UCHAR>(~BLOCK_MISCOUT_ENCODER_RESET);
    return bOk ? 1 : -15;
}

// A null array is refused rather than written through.
int CBlockConnection::ReadBaseEncoders(SHORT* nEncoders)
{
    if (nEncoders == nullptr)
        return -13;
    nEncoders[0] = AsShort(m_regsIn.usQuad0);
    nEncoders[1] = AsShort(m_regsIn.usQuad1);
    nEncoders[2] = AsShort(m_regsIn.usQuad2);
    return 1;
}

int CBlockConnection::ReadGimbalEncoders(SHORT* nEncoders)
{
    if (nEncoders == nullptr)
        return -13;
    nEncoders[0] = AsShort(m_regsIn.usPot0);
    nEncoders[1] = AsShort(m_regsIn.usPot1);
    nEncoders[2] = AsShort(m_regsIn.usPot2);
    return 1;
}

int CBlockConnection::ReadPinchValue(SHORT& nEncoder)
{
    nEncoder = (m_regsIn.usPot0 <= kPinchDeadBand) ? 0 : AsShort(m_regsIn.usPot0);
    return 1;
}

int CBlockConnection::ReadDeviceFault()
{
    if (CommunicationError())
        return -15;
    if (m_nWatchdogErrors == 0) {
        if ((m_regsIn.ucMiscIn & BLOCK_MISCIN_WATCHDOG_OK) == 0)
            return -16;
        if (m_regsIn.ucMiscIn & BLOCK_MISCIN_FAULT)
            return -17;
        if (m_regsIn.ucSpeedErrs & BLOCK_SPEEDERRS_SPEED)
            return -18;
    }
    return 1;
}

int CBlockConnection::ReadSwitch(int switchNum)
{
    if (switchNum != 0)
        return 0;
    if (globalExtra6DOFOption == kNotPinchCapable)
        return (m_regsIn.ucMiscIn & BLOCK_MISCIN_SWITCH0) == 0 ? 1 : 0;
    return m_regsIn.usPot0 < kPinchSwitchLimit ? 1 : 0;
}

int CBlockConnection::ReadPresence(int switchNum)
{
    (void)switchNum;
    return (m_regsIn.ucMiscIn & BLOCK_MISCIN_PRESENCE) == 0 ? 1 : 0;
}

int CBlockConnection::ReadHomeSensor(int sensorNum)
{
    static const UCHAR kMasks[3] = {BLOCK_MISCIN_HOME0, BLOCK_MISCIN_HOME1, BLOCK_MISCIN_HOME2};
    if (sensorNum < 0 || sensorNum > 2)
        return 0;
    return (m_regsIn.ucMiscIn & kMasks[sensorNum]) == 0 ? 1 : 0;
}

int CBlockConnection::WriteBaseTorques(USHORT* nTorques)
{
    if (nTorques == nullptr)
        return -13;
    for (int i = 0; i < 3; i++)
        *m_pDToAs[i] = static_cast<USHORT>(4095 - (nTorques[i] >> 4));
    return 1;
}

int CBlockConnection::EnableBaseAmplifiers(BOOLEAN bEnable)
{
    LOGV("TID(%X, %d) CBlockConnection EnableBaseAmplifiers %d\n", (unsigned)pthread_self(),
         (int)getpid(), (int)bEnable);
    if (bEnable) {
        ClearSensorData();
        SetStatusLight(NeedsCalibration() ? NEEDS_CALIBRATION : AMPLIFIERS_ENABLED);
    } else {
        SetStatusLight(AMPLIFIERS_DISABLED);
    }

    CTimedLoop loop(kAmplifierLoopLength, kAmplifierPollDelay);
    while (!loop.IsExpired()) {
        if (bEnable)
            m_regsOut.ucMiscOut |= BLOCK_MISCOUT_AMP_ENABLE;
        else
            m_regsOut.ucMiscOut &= static_cast<UCHAR>(~BLOCK_MISCOUT_AMP_ENABLE);
        FlushConnection(TRUE);

        int nFault = ReadDeviceFault();
        if (nFault == 1)
            break;
        if (nFault == -17 || nFault == -18) {
            // A pulse of the opposite amplifier state clears a latched fault.
            CWait(1);
            if (bEnable)
                m_regsOut.ucMiscOut &= static_cast<UCHAR>(~BLOCK_MISCOUT_AMP_ENABLE);
            else
                m_regsOut.ucMiscOut |= BLOCK_MISCOUT_AMP_ENABLE;
            FlushConnection(TRUE);
        }
    }

    if (bEnable)
        m_regsOut.ucMiscOut |= BLOCK_MISCOUT_AMP_ENABLE;
    else
        m_regsOut.ucMiscOut &= static_cast<UCHAR>(~BLOCK_MISCOUT_AMP_ENABLE);
    ReadWriteKinetorData(TRUE);
    return 1;
}

int CBlockConnection::GetHardwareRevNum()
{
    return m_regsIn.ucSpeedErrs & BLOCK_SPEEDERRS_REVISION;
}

int CBlockConnection::StatusLightCode(BLOCK_STATUS_LIGHT_STATE nStatus) const
{
    if (nStatus < AMPLIFIERS_ENABLED || nStatus > NEEDS_CALIBRATION)
        return 0;
    return (m_nCardType == kCardType1394) ? k1394LightCodes[nStatus] : kEPPLightCodes[nStatus];
}

void CBlockConnection::SetStatusLight(BLOCK_STATUS_LIGHT_STATE nStatus)
{
    m_nLEDStatus = nStatus;
    if (m_bLEDOverride)
        return;
    m_regsOut.ucMiscOut = static_cast<UCHAR>((m_regsOut.ucMiscOut & ~BLOCK_MISCOUT_LIGHT) |
                                             (StatusLightCode(nStatus) & BLOCK_MISCOUT_LIGHT));
}

int CBlockConnection::OverrideStatusLight(int nStatus)
{
    m_bLEDOverride = TRUE;
    m_regsOut.ucMiscOut = static_cast<UCHAR>((m_regsOut.ucMiscOut & ~BLOCK_MISCOUT_LIGHT) |
                                             (nStatus & BLOCK_MISCOUT_LIGHT));
    m_nUserLEDStatus = nStatus;
    return 1;
}

int CBlockConnection::RestoreStatusLight()
{
    m_bLEDOverride = FALSE;
    SetStatusLight(m_nLEDStatus);
    return 1;
}

int CBlockConnection::IsStatusLightEnabled()
{
    return m_bLEDOverride ? 1 : 0;
}

int CBlockConnection::ReadStatusLight()
{
    return m_nUserLEDStatus;
}

void CBlockConnection::ResetCommunicationErrors()
{
    m_nWatchdogErrors = 0;
    m_bCantCommunicate = FALSE;
}

BOOLEAN CBlockConnection::CommunicationError()
{
    return m_bCantCommunicate ? TRUE : FALSE;
}

BOOLEAN CBlockConnection::ReadKinetorData(_PORT_INPUT* pRegsIn, _PORT_OUTPUT* pRegsOut)
{
    // A device that dropped out and answers again starts its calibration afresh.
    if (CommunicationError() && PortTalkTest()) {
        ResetCommunicationErrors();
        // The torque last commanded before the link dropped is stale by now; the arm gets
        // zero until the library has ramped its forces up again.
        pRegsOut->usDToA0 = BLOCK_DAC_ZERO;
        pRegsOut->usDToA1 = BLOCK_DAC_ZERO;
        pRegsOut->usDToA2 = BLOCK_DAC_ZERO;
        if (m_bAutoCalibrate)
            ResetCalibration();
        ClearSensorData();
    }
    ManageWatchdog(pRegsIn, pRegsOut);
    return TRUE;
}

BOOLEAN CBlockConnection::WriteKinetorData(_PORT_OUTPUT* pRegsOut)
{
    (void)pRegsOut;
    return TRUE;
}

BOOLEAN CBlockConnection::ReadWriteKinetorData(BOOLEAN bFlushOnly)
{
    if (!bFlushOnly) {
        for (int i = 0; i < 3; i++) {
            if (m_alEncOffsets[i] == 0 && m_alEncOffsetsVel[i] == BLOCK_UNKNOWN_VELOCITY)
                m_bEncOffsetsIncorrect[i] = TRUE;
        }
        if (m_bAutoCalibrate)
            ComputeCalibration();
        else
            CheckHomeSensor();
        SetStatusLight(NeedsCalibration() ? NEEDS_CALIBRATION : AMPLIFIERS_ENABLED);
    }
    m_regsIn.usQuad0 = SubtractOffset(m_regsIn.usQuad0, m_alEncOffsets[0]);
    m_regsIn.usQuad1 = SubtractOffset(m_regsIn.usQuad1, m_alEncOffsets[1]);
    m_regsIn.usQuad2 = SubtractOffset(m_regsIn.usQuad2, m_alEncOffsets[2]);
    m_regsIn.usPot0 = SubtractOffset(m_regsIn.usPot0, m_alEncOffsets[3]);
    m_regsIn.usPot1 = SubtractOffset(m_regsIn.usPot1, m_alEncOffsets[4]);
    m_regsIn.usPot2 = SubtractOffset(m_regsIn.usPot2, m_alEncOffsets[5]);
    return TRUE;
}

BOOLEAN CBlockConnection::NeedsCalibration() const
{
    for (int i = 0; i < 3; i++) {
        if (!m_bEncOffsetsValid[i] && m_bEncOffsetsIncorrect[i])
            return TRUE;
    }
    return FALSE;
}
