// Shared pieces of the library-object tests: a scratch environment (a fresh configuration
// directory and an empty working directory), configuration-file writers and a device-model
// double that records what the library object asks of it.
#ifndef CORE_TEST_SUPPORT_H
#define CORE_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/IOLibAPI.h"
#include "device/HapticDevice.h"

// Every test runs with its own configuration directory and an empty working directory, so
// nothing outside the scratch area is read or written.
class CScratchEnvironment {
public:
    CScratchEnvironment() {
        char szConfig[] = "/tmp/kio-core-config-XXXXXX";
        char szWork[] = "/tmp/kio-core-work-XXXXXX";
        m_strConfigDir = mkdtemp(szConfig) ? szConfig : "";
        m_strWorkDir = mkdtemp(szWork) ? szWork : "";
        char szOld[4096];
        m_strOldDir = getcwd(szOld, sizeof(szOld)) ? szOld : "/";
        setenv("KINETOR_CONFIG_FILES", m_strConfigDir.c_str(), 1);
        unsetenv("KINETOR_SIMULATOR");
        unsetenv("TDL_DISABLE_TEMP_CHECK");
        if (!m_strWorkDir.empty() && chdir(m_strWorkDir.c_str()) != 0)
            m_strWorkDir.clear();
    }
    ~CScratchEnvironment() {
        if (chdir(m_strOldDir.c_str()) != 0) {
        }
        RemoveTree(m_strConfigDir);
        RemoveTree(m_strWorkDir);
        unsetenv("KINETOR_CONFIG_FILES");
    }
    bool Ok() const { return !m_strConfigDir.empty() && !m_strWorkDir.empty(); }
    const std::string& ConfigDir() const { return m_strConfigDir; }

    std::string ConfigPath(const std::string& strName) const { return m_strConfigDir + "/" + strName; }

    bool WriteFile(const std::string& strName, const std::string& strText) const {
        FILE* f = fopen(ConfigPath(strName).c_str(), "w");
        if (f == nullptr)
            return false;
        bool bOk = fputs(strText.c_str(), f) >= 0;
        return fclose(f) == 0 && bOk;
    }
    std::string ReadFile(const std::string& strName) const {
        std::string s;
        FILE* f = fopen(ConfigPath(strName).c_str(), "r");
        if (f == nullptr)
            return s;
        int c;
        while ((c = fgetc(f)) != EOF)
            s.push_back((char)c);
        fclose(f);
        return s;
    }
    bool Exists(const std::string& strName) const { return access(ConfigPath(strName).c_str(), F_OK) == 0; }

private:
    static void RemoveTree(const std::string& strDir) {
        if (strDir.empty())
            return;
        std::string cmd = "rm -rf '" + strDir + "'";
        if (system(cmd.c_str()) != 0) {
        }
    }
    std::string m_strConfigDir;
    std::string m_strWorkDir;
    std::string m_strOldDir;
};

// Text of an Altura A or T configuration file (one motor type for joints 1 to 3).
inline std::string AlturaConfigText(const char* pszName, const char* pszModel, int nL1, int nL2,
                                    const char* pszCard, int nUnit, int nTimeout, int nChannel,
                                    int nMotorType)
{
    char sz[2048];
    snprintf(sz, sizeof(sz),
             "%s\n%s\n%d, %d\n%s\n0x378, %d\n%d, %d\n"
             "0.076912, 0.090066\n114293\n4000, 2000\n%d\n-1\n"
             "0.600000, 0.002000, 8.500000, 1.400000\n"
             "0.100000, 0.200000, 0.300000, 0.000000, 0.000000, 0.000000\n"
             "-390, 390, -168, 603, -112, 180\n-140, 140, -20, 440, -78, 78\n"
             "-78, 78, -7, 149, -78, 78\n34\n",
             pszName, pszModel, nL1, nL2, pszCard, nUnit, nTimeout, nChannel, nMotorType);
    std::string s(sz);
    if (strcmp(pszModel, "a") == 0)
        s += "0\n";
    return s;
}

// Text of a Bravis ("p") or Cirrel ("cirrel") configuration file on the parallel port.
inline std::string BravisLikeConfigText(const char* pszName, const char* pszModel)
{
    char sz[2048];
    snprintf(sz, sizeof(sz),
             "%s\n%s\n5500, 5500\nEPP\n0x378, 0\n1, 2\n"
             "0.076912, 0.090066, 0.090066, 1.000000\n114293\n4000, 2000\n8\n-1\n"
             "0.600000, 0.002000, 8.500000, 1.400000\n"
             "0.000000, 0.000000, 0.000000, 0.000000, 0.000000, 0.000000\n0, 0, 0\n"
             "-390, 390, -168, 603, -112, 180\n-140, 140, -20, 440, -78, 78\n"
             "-78, 78, -7, 149, -78, 78\n34\n",
             pszName, pszModel);
    std::string s(sz);
    if (strcmp(pszModel, "cirrel") == 0)
        s += "0, 0, 0, 0, 0, 0\n0\n";
    return s;
}

// A device model that does what it is told and records what it was asked.
class CFakeHapticDevice : public CHapticDevice {
public:
    CFakeHapticDevice(char* pszName, _KINETOR_DEVICE_DATA* pDevData)
        : CHapticDevice(pszName, 4, 0, true, pDevData) {}

    // Scripted inputs
    int m_nDeviceFault = 0;
    int m_anSwitch[2] = {0, 0};
    int m_nPresence = 0;
    int m_nInkwell = 0;
    float m_afVelocity[6] = {0, 0, 0, 0, 0, 0};
    int m_nTemperatureCheck = 0;
    bool m_bRampRequest = false;
    int m_nWriteMotorTorquesResult = 0;
    int m_nFlushResult = 0;
    int m_nUpdateRateResult = 0;
    int m_nSubmitResult = 0;
    int m_nWatchDogResult = 0;

    // Observations
    std::vector<std::vector<float>> m_forces;   // each force handed to CalculateJointTorques
    int m_nZeroTorques = 0;
    int m_nAmpOn = 0;
    int m_nAmpOff = 0;
    int m_nWatchDog = 0;
    int m_nWriteMotorTorques = 0;
    int m_nWriteDAC = 0;
    int m_nAwait = 0;
    bool m_bLastSubmit = false;
    unsigned long m_nLastRate = 0;

    int OpenConnection(int) override { return 0; }
    int CloseConnection() override { return 0; }
    int FlushConnection() override { return m_nFlushResult; }
    void* GetConnectionData() override { return this; }
    int EnableAmplifiers(bool bOn) override {
        (bOn ? m_nAmpOn : m_nAmpOff)++;
        return 0;
    }
    int ResetEncoders() override { return 0; }
    int GetEncoders(short*) override { return 0; }
    int GetPinchValue(double&) override { return 0; }
    int EnableWatchDog(bool, bool) override {
        m_nWatchDog++;
        return m_nWatchDogResult;
    }
    int GetDeviceFault() override { return m_nDeviceFault; }
    int GetSwitch(int index) override { return (index == 0 || index == 1) ? m_anSwitch[index] : 0; }
    int GetPresence() override { return m_nPresence; }
    int ZeroTorques() override {
        m_nZeroTorques++;
        return 0;
    }
    int SendTorques(const unsigned short*) override { return 0; }
    int SubmitClient(bool bSet) override {
        m_bLastSubmit = bSet;
        return m_nSubmitResult;
    }
    void Await() override { m_nAwait++; }
    int SetKinetorUpdateRate(unsigned long rate) override {
        m_nLastRate = rate;
        return m_nUpdateRateResult;
    }
    int GetHardwareRevNum() override { return 7; }
    int GetInkwell() override { return m_nInkwell; }
    int OverrideStatusLight(int) override { return 0; }
    int RestoreStatusLight() override { return 0; }
    int IsStatusLightEnabled() override { return 1; }
    int ReadStatusLight() override { return 1; }
    int GetDOF() override { return 3; }
    int UpdateKinetorJointAngles() override { return 0; }
    int UpdateKinetorEndpointTransform() override { return 0; }
    int UpdateKinetorJacobian() override { return 0; }
    int CalculateJointAngles(const long*, float*, bool) override { return 0; }
    int CalculateJointVelocities() override { return 0; }
    int CalculateEndpointTransform(float*, float[4][4], bool) override { return 0; }
    int CalculateKinetorVelocity(int) override {
        for (int i = 0; i < 6; i++)
            m_pDevData->fVelocity[i] = m_afVelocity[i];
        return 0;
    }
    int CalculateJointTorques(const float* force, float* torque) override {
        m_forces.push_back(std::vector<float>(force, force + 6));
        for (int i = 0; i < 6; i++)
            torque[i] = force[i];
        return 0;
    }
    int CalculateMotorTorques(const float* jointTorque, float* motorTorque) override {
        for (int i = 0; i < 6; i++)
            motorTorque[i] = jointTorque[i];
        return 0;
    }
    int WriteMotorVoltages(const float*, float*) override { return 0; }
    int WriteMotorTorques(bool) override {
        m_nWriteMotorTorques++;
        return m_nWriteMotorTorquesResult;
    }
    int WriteMotorDACValues() override {
        m_nWriteDAC++;
        return 0;
    }
    int CheckMotorTorques() override { return 0; }
    int CheckKinetorTemperature() override { return m_nTemperatureCheck; }
    bool CheckRampForces() override { return m_bRampRequest; }
};

// Snapshot of the handle table, to show that a failed open leaves it as it was. The first
// object ever constructed gives the table its twenty slots, so those always count as there.
inline std::vector<void*> TableSnapshot()
{
    std::vector<void*> v(20, nullptr);
    for (int i = 0; i < CIOLibAPI::m_kinetorArray.GetSize(); i++) {
        if (i < 20)
            v[i] = CIOLibAPI::m_kinetorArray.GetAt(i);
        else
            v.push_back(CIOLibAPI::m_kinetorArray.GetAt(i));
    }
    return v;
}

#endif
