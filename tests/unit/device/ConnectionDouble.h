// A scripted stand-in for the hardware behind CIOConnection. A test owns one
// CConnectionScript: it sets the readings and results the hardware should give and reads
// back every call the model made. The double itself is created by the wrapper factory on
// each AllocateConnection and dies with its wrapper, so everything worth looking at lives
// in the script, which outlives it. Nothing here allocates after the connection is open,
// so servo-path tests can count allocations around it.
#ifndef TESTS_DEVICE_CONNECTION_DOUBLE_H
#define TESTS_DEVICE_CONNECTION_DOUBLE_H

#include <ftw.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "KinetorTypes.h"
#include "connection/HapticConnection.h"
#include "device/KinetorDeviceData.h"
#include "transport/IOConnection.h"
#include "transport/KernelDevice.h"

// Operations whose result the script can override and whose calls it counts.
enum EConnectionOp {
    OP_ALLOCATE, OP_DELETE, OP_FLUSH, OP_CALIBRATION_STATUS, OP_UPDATE_CALIBRATION,
    OP_RESET_BASE, OP_RESET_GIMBAL, OP_READ_BASE, OP_READ_PINCH, OP_READ_GIMBAL,
    OP_READ_FAULT, OP_READ_SWITCH, OP_READ_PRESENCE, OP_READ_INKWELL, OP_READ_HOME,
    OP_WRITE_BASE, OP_WRITE_GIMBAL, OP_ENABLE_BASE, OP_ENABLE_GIMBAL, OP_SUBMIT, OP_AWAIT,
    OP_SET_RATE, OP_HARDWARE_REV, OP_OVERRIDE_LIGHT, OP_RESTORE_LIGHT, OP_LIGHT_ENABLED,
    OP_READ_LIGHT, OP_READ_OFFSETS, OP_WRITE_OFFSETS, OP_SET_OFFSETS, OP_COUNT
};

class CConnectionScript {
public:
    enum { MAX_LOG = 256, MAX_FAULTS = 32 };

    CConnectionScript() { Reset(); }

    void Reset()
    {
        for (int i = 0; i < OP_COUNT; i++) {
            m_anResult[i] = 1;
            m_anCalls[i] = 0;
        }
        for (int i = 0; i < 3; i++) {
            m_asBase[i] = 0;
            m_asGimbal[i] = 0;
            m_anHomeSensor[i] = 0;
            m_ausBaseWords[i] = 0;
            m_ausGimbalWords[i] = 0;
        }
        for (int i = 0; i < 6; i++)
            m_asOffsets[i] = 0;
        m_sPinch = 0;
        m_anSwitch[0] = m_anSwitch[1] = m_anSwitch[2] = m_anSwitch[3] = 0;
        m_nPresence = 1;
        m_nInkwell = 0;
        m_nDeviceFault = 1;
        m_nFaultScript = 0;
        m_nFaultNext = 0;
        m_nHardwareRev = 0;
        m_nLightEnabled = 0;
        m_nLight = 0;
        m_nLightOverride = -1;
        m_nCalibrationStatus = 0;
        m_nLastSwitchNum = -1;
        m_nLastPresenceNum = -1;
        m_nLastHomeNum = -1;
        m_nLastRate = 0;
        m_nLastSubmit = -1;
        m_nAllocatedChannel = -1;
        m_nExtra6DOFOption = -1;
        m_szOffsetsName[0] = '\0';
        m_nLog = 0;
        m_nAmpLog = 0;
        m_nFlushLog = 0;
        m_bFactoryFails = false;
        m_bConstructorFails = false;
        m_nWrappers = 0;
        m_nFactoryCardType = -1;
        m_nFactoryUnit = 0;
        m_bAlive = false;
    }

    // Device fault codes served one per ReadDeviceFault, then m_nDeviceFault for ever.
    void ScriptFaults(const int* pnCodes, int nCount)
    {
        m_nFaultScript = nCount < MAX_FAULTS ? nCount : MAX_FAULTS;
        for (int i = 0; i < m_nFaultScript; i++)
            m_anFaults[i] = pnCodes[i];
        m_nFaultNext = 0;
    }

    int Calls(EConnectionOp op) const { return m_anCalls[op]; }

    // Position of the first logged call of op at or after nFrom, -1 when none.
    int FindInLog(EConnectionOp op, int nFrom = 0) const
    {
        for (int i = nFrom; i < m_nLog && i < MAX_LOG; i++)
            if (m_aeLog[i] == op)
                return i;
        return -1;
    }

    void Record(EConnectionOp op)
    {
        m_anCalls[op]++;
        if (m_nLog < MAX_LOG)
            m_aeLog[m_nLog] = op;
        m_nLog++;
    }

    // What the hardware gives.
    int m_anResult[OP_COUNT];     // result of each operation that returns a code
    SHORT m_asBase[3];            // base encoder readings, by motor
    SHORT m_asGimbal[3];          // gimbal encoder readings, motors 3..5
    SHORT m_sPinch;               // raw pinch potentiometer reading
    int m_anSwitch[4];            // ReadSwitch by switch number
    int m_nPresence;
    int m_nInkwell;
    int m_anHomeSensor[3];
    int m_nDeviceFault;           // ReadDeviceFault once the fault script is used up
    int m_anFaults[MAX_FAULTS];
    int m_nFaultScript;
    int m_nFaultNext;
    int m_nHardwareRev;
    int m_nLightEnabled;
    int m_nLight;
    int m_nCalibrationStatus;     // value written by GetCalibrationStatus

    // What the model did.
    int m_anCalls[OP_COUNT];
    EConnectionOp m_aeLog[MAX_LOG];
    int m_nLog;
    USHORT m_ausBaseWords[3];     // last words written
    USHORT m_ausGimbalWords[3];
    // Amplifier enable calls in order: group 0 base, 1 gimbal, with the level.
    int m_anAmpGroup[MAX_LOG];
    int m_anAmpLevel[MAX_LOG];
    int m_nAmpLog;
    int m_anFlushArg[MAX_LOG];    // bFlushOnly of each FlushConnection
    int m_nFlushLog;
    int m_nLightOverride;
    int m_nLastSwitchNum, m_nLastPresenceNum, m_nLastHomeNum;
    ULONG m_nLastRate;
    int m_nLastSubmit;
    int m_nAllocatedChannel;      // argument of AllocateConnection
    int m_nExtra6DOFOption;       // option the model handed to the connection
    char m_szOffsetsName[128];    // name given to Read/WriteEncoderOffsets
    SHORT m_asOffsets[6];         // offsets given to SetEncoderOffsets

    // Wrapper factory behaviour and what it saw.
    bool m_bFactoryFails;         // the factory returns null
    bool m_bConstructorFails;     // the wrapper reports a failed construction
    int m_nWrappers;              // wrappers built
    int m_nFactoryCardType;
    ULONG m_nFactoryUnit;
    bool m_bAlive;                // a double is currently attached
};

class CConnectionDouble : public CHapticConnection {
public:
    CConnectionDouble(int nCardType, CConnectionScript* pScript)
        : CHapticConnection(nCardType), m_pScript(pScript) { m_pScript->m_bAlive = true; }
    ~CConnectionDouble() override { m_pScript->m_bAlive = false; }

    int AllocateConnection(int nChannel) override
    {
        m_pScript->Record(OP_ALLOCATE);
        m_pScript->m_nAllocatedChannel = nChannel;
        m_pScript->m_nExtra6DOFOption = GetExtra6DOFOption();
        m_nChannel = nChannel;
        return m_pScript->m_anResult[OP_ALLOCATE];
    }
    int DeleteConnection() override { return Op(OP_DELETE); }
    int FlushConnection(BOOLEAN bFlushOnly) override
    {
        if (m_pScript->m_nFlushLog < CConnectionScript::MAX_LOG)
            m_pScript->m_anFlushArg[m_pScript->m_nFlushLog] = bFlushOnly;
        m_pScript->m_nFlushLog++;
        return Op(OP_FLUSH);
    }
    void* GetConnectionData() override { return m_pScript; }
    int GetCalibrationStatus(int& status) override
    {
        status = m_pScript->m_nCalibrationStatus;
        return Op(OP_CALIBRATION_STATUS);
    }
    int UpdateCalibration() override { return Op(OP_UPDATE_CALIBRATION); }
    void ReadEncoderOffsets(char* pszName) override
    {
        m_pScript->Record(OP_READ_OFFSETS);
        snprintf(m_pScript->m_szOffsetsName, sizeof(m_pScript->m_szOffsetsName), "%s", pszName ? pszName : "");
    }
    void WriteEncoderOffsets(char* pszName) override
    {
        m_pScript->Record(OP_WRITE_OFFSETS);
        snprintf(m_pScript->m_szOffsetsName, sizeof(m_pScript->m_szOffsetsName), "%s", pszName ? pszName : "");
    }
    void SetEncoderOffsets(const SHORT* nOffsets) override
    {
        m_pScript->Record(OP_SET_OFFSETS);
        for (int i = 0; i < 6; i++)
            m_pScript->m_asOffsets[i] = nOffsets[i];
    }
    int ResetBaseEncoders() override { return Op(OP_RESET_BASE); }
    int ResetGimbalEncoders() override { return Op(OP_RESET_GIMBAL); }
    int ReadBaseEncoders(SHORT* nEncoders) override
    {
        int r = Op(OP_READ_BASE);
        if (r == 1)
            for (int i = 0; i < 3; i++)
                nEncoders[i] = m_pScript->m_asBase[i];
        return r;
    }
    int ReadPinchValue(SHORT& nEncoder) override
    {
        int r = Op(OP_READ_PINCH);
        if (r == 1)
            nEncoder = m_pScript->m_sPinch;
        return r;
    }
    int ReadGimbalEncoders(SHORT* nEncoders) override
    {
        int r = Op(OP_READ_GIMBAL);
        if (r == 1)
            for (int i = 0; i < 3; i++)
                nEncoders[i] = m_pScript->m_asGimbal[i];
        return r;
    }
    int ReadDeviceFault() override
    {
        m_pScript->Record(OP_READ_FAULT);
        CConnectionScript* s = m_pScript;
        if (s->m_nFaultNext < s->m_nFaultScript)
            return s->m_anFaults[s->m_nFaultNext++];
        return s->m_nDeviceFault;
    }
    int ReadSwitch(int switchNum) override
    {
        m_pScript->Record(OP_READ_SWITCH);
        m_pScript->m_nLastSwitchNum = switchNum;
        return (switchNum >= 0 && switchNum < 4) ? m_pScript->m_anSwitch[switchNum] : 0;
    }
    int ReadPresence(int switchNum) override
    {
        m_pScript->Record(OP_READ_PRESENCE);
        m_pScript->m_nLastPresenceNum = switchNum;
        return m_pScript->m_nPresence;
    }
    int ReadInkwellSensor() override
    {
        m_pScript->Record(OP_READ_INKWELL);
        return m_pScript->m_nInkwell;
    }
    int ReadHomeSensor(int sensorNum) override
    {
        m_pScript->Record(OP_READ_HOME);
        m_pScript->m_nLastHomeNum = sensorNum;
        return (sensorNum >= 0 && sensorNum < 3) ? m_pScript->m_anHomeSensor[sensorNum] : 0;
    }
    int WriteBaseTorques(USHORT* nTorques) override
    {
        int r = Op(OP_WRITE_BASE);
        for (int i = 0; i < 3; i++)
            m_pScript->m_ausBaseWords[i] = nTorques[i];
        return r;
    }
    int WriteGimbalTorques(USHORT* nTorques) override
    {
        int r = Op(OP_WRITE_GIMBAL);
        for (int i = 0; i < 3; i++)
            m_pScript->m_ausGimbalWords[i] = nTorques[i];
        return r;
    }
    int EnableBaseAmplifiers(BOOLEAN bEnable) override { return Amp(OP_ENABLE_BASE, 0, bEnable); }
    int EnableGimbalAmplifiers(BOOLEAN bEnable) override { return Amp(OP_ENABLE_GIMBAL, 1, bEnable); }
    int SubmitClient(BOOLEAN bSet) override
    {
        m_pScript->m_nLastSubmit = bSet;
        return Op(OP_SUBMIT);
    }
    void Await() override { m_pScript->Record(OP_AWAIT); }
    int SetKinetorUpdateRate(ULONG nUpdateRate) override
    {
        m_pScript->m_nLastRate = nUpdateRate;
        return Op(OP_SET_RATE);
    }
    int GetHardwareRevNum() override
    {
        m_pScript->Record(OP_HARDWARE_REV);
        return m_pScript->m_nHardwareRev;
    }
    int OverrideStatusLight(int nStatus) override
    {
        m_pScript->m_nLightOverride = nStatus;
        return Op(OP_OVERRIDE_LIGHT);
    }
    int RestoreStatusLight() override
    {
        m_pScript->m_nLightOverride = -1;
        return Op(OP_RESTORE_LIGHT);
    }
    int IsStatusLightEnabled() override
    {
        m_pScript->Record(OP_LIGHT_ENABLED);
        return m_pScript->m_nLightEnabled;
    }
    int ReadStatusLight() override
    {
        m_pScript->Record(OP_READ_LIGHT);
        return m_pScript->m_nLight;
    }

private:
    int Op(EConnectionOp op)
    {
        m_pScript->Record(op);
        return m_pScript->m_anResult[op];
    }
    int Amp(EConnectionOp op, int nGroup, BOOLEAN bEnable)
    {
        CConnectionScript* s = m_pScript;
        if (s->m_nAmpLog < CConnectionScript::MAX_LOG) {
            s->m_anAmpGroup[s->m_nAmpLog] = nGroup;
            s->m_anAmpLevel[s->m_nAmpLog] = bEnable;
        }
        s->m_nAmpLog++;
        return Op(op);
    }

    CConnectionScript* m_pScript;
};

class CDoubleKernelDevice : public CKernelDevice {
public:
    CDoubleKernelDevice(int nCardType, CConnectionScript* pScript)
    {
        m_pConnection = new CConnectionDouble(nCardType, pScript);
        m_bConstructorStatus = pScript->m_bConstructorFails ? FALSE : TRUE;
    }
};

// The script the factory serves; one test at a time uses it.
inline CConnectionScript*& ActiveConnectionScript()
{
    static CConnectionScript* s_pScript = nullptr;
    return s_pScript;
}

inline CKernelDevice* CreateDoubleWrapper(int nCardType, ULONG nUnit)
{
    CConnectionScript* pScript = ActiveConnectionScript();
    if (pScript == nullptr)
        return nullptr;
    pScript->m_nWrappers++;
    pScript->m_nFactoryCardType = nCardType;
    pScript->m_nFactoryUnit = nUnit;
    if (pScript->m_bFactoryFails)
        return nullptr;
    return new CDoubleKernelDevice(nCardType, pScript);
}

// Puts a script behind every CIOConnection built while it lives.
class CConnectionDoubleScope {
public:
    explicit CConnectionDoubleScope(CConnectionScript* pScript)
    {
        ActiveConnectionScript() = pScript;
        CIOConnection::SetWrapperFactory(CreateDoubleWrapper);
    }
    ~CConnectionDoubleScope()
    {
        CIOConnection::SetWrapperFactory(nullptr);
        ActiveConnectionScript() = nullptr;
    }
};

// A fresh, empty working directory and configuration directory for one test; both are
// removed, and the previous working directory and variable restored, at the end.
// Sets or clears an environment variable for one scope and restores it afterwards.
class CEnvironmentScope {
public:
    CEnvironmentScope(const char* pszName, const char* pszValue) : m_strName(pszName)
    {
        const char* pszOld = getenv(pszName);
        m_bHad = pszOld != nullptr;
        if (m_bHad)
            m_strOld = pszOld;
        if (pszValue != nullptr)
            setenv(pszName, pszValue, 1);
        else
            unsetenv(pszName);
    }
    ~CEnvironmentScope()
    {
        if (m_bHad)
            setenv(m_strName.c_str(), m_strOld.c_str(), 1);
        else
            unsetenv(m_strName.c_str());
    }

private:
    std::string m_strName, m_strOld;
    bool m_bHad;
};

class CTestDirectories {
public:
    CTestDirectories()
    {
        char szConfig[] = "/tmp/kio-config-XXXXXX";
        char szWork[] = "/tmp/kio-work-XXXXXX";
        m_strConfig = mkdtemp(szConfig) ? szConfig : "";
        m_strWork = mkdtemp(szWork) ? szWork : "";
        char szOld[PATH_MAX];
        m_strOldCwd = getcwd(szOld, sizeof(szOld)) ? szOld : "/tmp";
        const char* pszOldVar = getenv("KINETOR_CONFIG_FILES");
        m_bHadVar = pszOldVar != nullptr;
        if (m_bHadVar)
            m_strOldVar = pszOldVar;
        setenv("KINETOR_CONFIG_FILES", m_strConfig.c_str(), 1);
        if (!m_strWork.empty() && chdir(m_strWork.c_str()) != 0)
            m_strWork.clear();
    }
    ~CTestDirectories()
    {
        if (chdir(m_strOldCwd.c_str()) != 0) {
            // Nothing sensible to do; the directories are removed regardless.
        }
        if (m_bHadVar)
            setenv("KINETOR_CONFIG_FILES", m_strOldVar.c_str(), 1);
        else
            unsetenv("KINETOR_CONFIG_FILES");
        Remove(m_strWork);
        Remove(m_strConfig);
    }
    const std::string& ConfigDir() const { return m_strConfig; }
    const std::string& WorkDir() const { return m_strWork; }
    bool Ok() const { return !m_strConfig.empty() && !m_strWork.empty(); }

private:
    static int RemoveEntry(const char* pszPath, const struct stat*, int, struct FTW*)
    {
        return remove(pszPath);
    }
    static void Remove(const std::string& strDir)
    {
        if (strDir.rfind("/tmp/kio-", 0) == 0)
            nftw(strDir.c_str(), RemoveEntry, 8, FTW_DEPTH | FTW_PHYS);
    }

    std::string m_strConfig, m_strWork, m_strOldCwd, m_strOldVar;
    bool m_bHadVar;
};

// The device data a library object derives from a default Altura 1.5 configuration
// (8250 thousandths of an inch per link, motor type 20 on the base, no cumulative DAC
// limit, 1000 Hz velocity filter window).
inline void FillDefaultDeviceData(_KINETOR_DEVICE_DATA& data)
{
    memset(&data, 0, sizeof(data));
    data.fCcu = 385.0f;
    data.fCfe = 434.0f;
    data.fAcu = 0.00392f;
    data.fTatm = 25.0f;
    data.fL1 = 8250 * 0.0254f;
    data.fL2 = 8250 * 0.0254f;
    const float afRatio[6] = {0.076912f, 0.090066f, 0.090066f, 1.0f, 1.0f, 1.0f};
    const int anCPR[6] = {4000, 4000, 4000, 2000, 2000, 2000};
    for (int k = 0; k < 6; k++) {
        data.fReductionDirect[k] = afRatio[k];
        data.fCPRToRadians[k] = 6.28318f / (float)anCPR[k];
        data.fTtm[k] = k < 3 ? 114293 / 1000.0f : 0.0f;
        data.nMotorType[k] = k < 3 ? 20 : 0;
        data.fMaxMotorTorques[k] = k < 3 ? 241.0f : 0.0f;
        data.fTcu[k] = data.fTfe[k] = data.fTatm;
    }
    data.nAmpDACLimit = ~0UL;
    data.nPinchMax = 1;
    data.fUpdateRate = 1000.0f;
    data.fTargetUpdateRate = 1000.0f;
    data.fInstantaneousRate = 1000.0f;
    data.fInstRateUpperLimit = 1500.0f;
    data.fInstRateLowerLimit = 500.0f;
}

// Everything a model test needs, in construction order: fresh directories, a script,
// the script behind every CIOConnection, and default device data and a name.
class CModelHarness {
public:
    CModelHarness() : m_scope(&m_script)
    {
        FillDefaultDeviceData(m_data);
        snprintf(m_szName, sizeof(m_szName), "%s", "Unit Test Arm");
    }

    CTestDirectories m_dirs;
    CConnectionScript m_script;
    CConnectionDoubleScope m_scope;
    KINETOR_DEVICE_DATA m_data;
    char m_szName[128];
};

#endif
