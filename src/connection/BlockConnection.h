// Common base of the transports that move the two fixed hardware blocks once per servo
// tick (parallel port, FireWire). Everything that does not depend on the wire lives here:
// offset subtraction, the amplifier handshake, switch and sensor decoding, the status
// light, device-fault decoding and the home-sensor calibration with its offsets file.
//
// The transports supply the wire (PortTalkTest, ReadBlock, WriteBlock, ManageWatchdog and
// their own ReadKinetorData / ReadWriteKinetorData, which call the bodies here after
// moving the blocks). The communication state and the status-light state are kept here,
// in m_nWatchdogErrors, m_bCantCommunicate, m_nUpdateRate, m_bLEDOverride, m_nLEDStatus
// and m_nUserLEDStatus, so that ReadDeviceFault and the light operations are shared:
// transports use these fields and must not declare their own of the same names.
#ifndef BLOCK_CONNECTION_H
#define BLOCK_CONNECTION_H

#include <stddef.h>

#include "KinetorTypes.h"
#include "connection/HapticConnection.h"

// The input block, read from the device once per tick. Little-endian on the wire; the
// record is used in place, so the host must be little-endian too (checked below).
typedef struct _PORT_INPUT {
    USHORT usQuad1;
    USHORT usQuad2;
    USHORT usQuad0;
    USHORT usPot0;
    USHORT usPot1;
    USHORT usPot2;
    UCHAR ucTimerCnt;
    UCHAR ucMiscIn;
    UCHAR ucWatchdogCntrIn;
    UCHAR ucSpeedErrs;
} PORT_INPUT;

// The output block, written to the device once per tick.
typedef struct _PORT_OUTPUT {
    USHORT usDToA0;
    USHORT usDToA1;
    USHORT usDToA2;
    UCHAR ucMiscOut;
    UCHAR ucWatchdogCntrOut;
} PORT_OUTPUT;

static_assert(sizeof(_PORT_INPUT) == 16, "input block is 16 bytes on the wire");
static_assert(offsetof(_PORT_INPUT, usQuad1) == 0, "input block layout");
static_assert(offsetof(_PORT_INPUT, usQuad2) == 2, "input block layout");
static_assert(offsetof(_PORT_INPUT, usQuad0) == 4, "input block layout");
static_assert(offsetof(_PORT_INPUT, usPot0) == 6, "input block layout");
static_assert(offsetof(_PORT_INPUT, usPot1) == 8, "input block layout");
static_assert(offsetof(_PORT_INPUT, usPot2) == 10, "input block layout");
static_assert(offsetof(_PORT_INPUT, ucTimerCnt) == 12, "input block layout");
static_assert(offsetof(_PORT_INPUT, ucMiscIn) == 13, "input block layout");
static_assert(offsetof(_PORT_INPUT, ucWatchdogCntrIn) == 14, "input block layout");
static_assert(offsetof(_PORT_INPUT, ucSpeedErrs) == 15, "input block layout");
static_assert(sizeof(_PORT_OUTPUT) == 8, "output block is 8 bytes on the wire");
static_assert(offsetof(_PORT_OUTPUT, usDToA0) == 0, "output block layout");
static_assert(offsetof(_PORT_OUTPUT, usDToA1) == 2, "output block layout");
static_assert(offsetof(_PORT_OUTPUT, usDToA2) == 4, "output block layout");
static_assert(offsetof(_PORT_OUTPUT, ucMiscOut) == 6, "output block layout");
static_assert(offsetof(_PORT_OUTPUT, ucWatchdogCntrOut) == 7, "output block layout");
#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the blocks are moved byte for byte; multi-byte fields are little-endian");
#endif

// Bits of ucMiscIn.
#define BLOCK_MISCIN_PRESENCE 0x01
#define BLOCK_MISCIN_SWITCH0 0x02
#define BLOCK_MISCIN_HOME0 0x04
#define BLOCK_MISCIN_HOME1 0x08
#define BLOCK_MISCIN_HOME2 0x10
#define BLOCK_MISCIN_FAULT 0x20
#define BLOCK_MISCIN_WATCHDOG_OK 0x40
// Bits of ucSpeedErrs.
#define BLOCK_SPEEDERRS_REVISION 0x0F
#define BLOCK_SPEEDERRS_SPEED 0x70
// Bits of ucMiscOut.
#define BLOCK_MISCOUT_LIGHT 0x07
#define BLOCK_MISCOUT_AMP_ENABLE 0x08
#define BLOCK_MISCOUT_ENCODER_RESET 0x10
#define BLOCK_MISCOUT_RATE_2000 0x20
#define BLOCK_MISCOUT_TIMER 0xC0

// Zero torque on a 12-bit DAC.
#define BLOCK_DAC_ZERO 2047

// The unknown velocity, and the position of an edge not yet seen; larger than any
// measured velocity.
#define BLOCK_UNKNOWN_VELOCITY 2147483647L

typedef enum BLOCK_STATUS_LIGHT_STATE {
    AMPLIFIERS_ENABLED = 0,
    AMPLIFIERS_DISABLED = 1,
    NEEDS_CALIBRATION = 2,
    INVALID_LIGHT_STATE = 3
} BLOCK_STATUS_LIGHT_STATE;

// One measured flag or gap.
typedef struct _SENSOR_DATA {
    LONG lStart;
    LONG lStop;
    LONG lWidth;
    LONG lMidPoint;
    LONG lVelocity;
} SENSOR_DATA;

// Flags and gaps measured on one base axis, by id; null = not seen.
typedef struct _AXIS_SENSOR_DATA {
    int nFlags;
    int nGaps;
    _SENSOR_DATA* psdFlagData[3];
    _SENSOR_DATA* psdGapData[3];
} AXIS_SENSOR_DATA;

// One expected flag or gap: exclusive width bounds and the known centre.
typedef struct _SENSOR_INFO {
    LONG lLowerLimit;
    LONG lUpperLimit;
    LONG lCenter;
} SENSOR_INFO;

typedef struct _AXIS_SENSOR_INFO {
    _SENSOR_INFO asiFlagInfo[3];
    _SENSOR_INFO asiGapInfo[2];
} AXIS_SENSOR_INFO;

class CBlockConnection : public CHapticConnection {
public:
    CBlockConnection(int nCardType, ULONG nUnit);
    ~CBlockConnection() override;

    // Slots of the connection interface.
    int AllocateConnection(int nChannel) override = 0;
    int DeleteConnection() override = 0;
    int FlushConnection(BOOLEAN bFlushOnly) override;
    void* GetConnectionData() override;
    int GetCalibrationStatus(int& status) override;
    int UpdateCalibration() override;
    void ReadEncoderOffsets(char* pszName) override;
    void WriteEncoderOffsets(char* pszName) override;
    void SetEncoderOffsets(const SHORT* nOffsets) override;
    int ResetBaseEncoders() override;
    int ResetGimbalEncoders() override;
    int ReadBaseEncoders(SHORT* nEncoders) override;
    int ReadPinchValue(SHORT& nEncoder) override;
    int ReadGimbalEncoders(SHORT* nEncoders) override;
    int ReadDeviceFault() override;
    int ReadSwitch(int switchNum) override;
    int ReadPresence(int switchNum) override;
    int ReadHomeSensor(int sensorNum) override;
    int WriteBaseTorques(USHORT* nTorques) override;
    int EnableBaseAmplifiers(BOOLEAN bEnable) override;
    int GetHardwareRevNum() override;
    int OverrideStatusLight(int nStatus) override;
    int RestoreStatusLight() override;
    int IsStatusLightEnabled() override;
    int ReadStatusLight() override;

    // Slots the block transports add.
    virtual void ResetCommunicationErrors();
    virtual BOOLEAN CommunicationError();
    virtual BOOLEAN PortTalkTest() = 0;
    virtual BOOLEAN ReadBlock(_PORT_INPUT* pBuffer, int nLen, BOOLEAN bReverse) = 0;
    virtual BOOLEAN WriteBlock(_PORT_OUTPUT* pBuffer, int nLen) = 0;
    // Called by the transport once it has filled pRegsIn: the common read checks.
    virtual BOOLEAN ReadKinetorData(_PORT_INPUT* pRegsIn, _PORT_OUTPUT* pRegsOut) = 0;
    virtual BOOLEAN WriteKinetorData(_PORT_OUTPUT* pRegsOut);
    // Called by the transport after it has moved both blocks: calibration step, status
    // light and offset subtraction. Returns TRUE.
    virtual BOOLEAN ReadWriteKinetorData(BOOLEAN bFlushOnly) = 0;
    virtual void ManageWatchdog(_PORT_INPUT* pRegsIn, _PORT_OUTPUT* pRegsOut) = 0;
    virtual void SetStatusLight(BLOCK_STATUS_LIGHT_STATE nStatus);

    // Light code of a state on this connection's card type (FireWire or parallel port).
    int StatusLightCode(BLOCK_STATUS_LIGHT_STATE nStatus) const;

    // Calibration (home sensors and encoder offsets).
    void ResetCalibration();
    void ClearSensorData();
    void ComputeCalibration();
    void CheckHomeSensor();

    static const _AXIS_SENSOR_INFO m_asiOldAxisSensorInfo[3];
    static const _AXIS_SENSOR_INFO m_asiNewAxisSensorInfo[3];

protected:
    void DetectSensorData(int nAxis, UCHAR homeSensorData, const LONG* alEncoders,
                          _AXIS_SENSOR_DATA* pSensorData);
    void SetSensorData(int nAxis, _SENSOR_DATA& sd);
    BOOLEAN IsFlagValid(int nAxis, const _SENSOR_DATA& sd, int& nId) const;
    BOOLEAN IsGapValid(int nAxis, const _SENSOR_DATA& sd, int& nId) const;
    void StoreFlag(int nAxis, int nId, const _SENSOR_DATA& sd);
    void StoreGap(int nAxis, int nId, const _SENSOR_DATA& sd);
    BOOLEAN CalculateEncoderOffset(int nAxis, const _AXIS_SENSOR_DATA* pSensorData,
                                   LONG& nOffset, LONG& nVelocity) const;
    // Any base axis without a valid measured offset whose offset in use is incorrect.
    BOOLEAN NeedsCalibration() const;
    void FreeSensorData();

    _PORT_INPUT m_regsIn;
    _PORT_OUTPUT m_regsOut;
    _AXIS_SENSOR_DATA m_asdAxisSensorData[3];
    const _AXIS_SENSOR_INFO* m_pasiAxisSensorInfo;
    unsigned char m_bHomeSensorState[3];
    LONG m_alEncoderOn[3];
    LONG m_alEncoderOff[3];
    LONG m_alEncoderOnVel[3];
    LONG m_alEncoderOffVel[3];
    LONG m_alLastEncoder[3];
    int m_nCycleNum;
    int m_nCounter;
    LONG m_alEncOffsets[6];
    LONG m_alEncOffsetsVel[6];
    LONG m_alEncOffsetsCalc[6];
    LONG m_alEncOffsetsCalcVel[6];
    LONG m_alEncOffsetsRef[6];
    unsigned char m_bEncOffsetsValid[6];
    unsigned char m_bEncOffsetsIncorrect[6];
    BOOLEAN m_bAutoCalibrate;
    ULONG m_nUnit;
    USHORT* m_pDToAs[3];
    char m_pszName[128];

    // Communication and light state shared by the block transports.
    int m_nWatchdogErrors;
    BOOLEAN m_bCantCommunicate;
    ULONG m_nUpdateRate;
    BOOLEAN m_bLEDOverride;
    BLOCK_STATUS_LIGHT_STATE m_nLEDStatus;
    int m_nUserLEDStatus;

private:
    CBlockConnection(const CBlockConnection&) = delete;
    CBlockConnection& operator=(const CBlockConnection&) = delete;
};

#endif
