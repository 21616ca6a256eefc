// Base of the end-to-end tests: the whole library, through its flat interface, against the
// simulated arm in lockstep pace. Every test gets a fresh configuration directory
// (KINETOR_CONFIG_FILES) and a fresh, empty working directory, writes the configuration of
// the arm it wants, and drives the servo ticks itself, one at a time, on the test thread:
// update_kinetor, whatever the test does inside the tick, then the device's tick wait, which
// in lockstep moves simulated time (and the arm's physics) on by exactly one tick.
#ifndef SIM_FIXTURE_H
#define SIM_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KinetorIO.h"
#include "KinetorTypes.h"
#include "sim/SimArm.h"
#include "sim/SimEPPPort.h"
#include "sim/SimTestInterface.h"

// Everything one configuration file holds, in the units of the file (link lengths in
// thousandths of an inch, Ttm in counts per 1000 N·mm, reset angles in rad, workspace in mm).
typedef struct _SIM_TEST_CONFIG {
    char szName[128];
    int nIndex;              // file "Kinetor%d.ini"
    int nModelType;          // 1 Altura A, 2 Altura T, 3 Bravis, 4 Altura 6 DOF, 5 Cirrel
    long lL1;
    long lL2;
    const char* pszCardType; // interface keyword: "EPP" (default), "DBLEPP", "PCI", "1394"
    unsigned long ulPortAddress;  // parallel port; written in decimal as the PCI address
    int nUnit;               // one-based unit (parallel port or PCI card)
    int nTimeoutCircuit;
    int nChannel;
    float afRatio[6];
    long alTtm[6];
    long alCPR[6];
    long alMotorType[6];
    long lAmpDACLimit;       // -1: no cumulative limit
    float afNominal[4];      // stiffness, damping, force, continuous force
    float afResetAngle[6];
    int anWorkspaceOffset[3];
    int anInkwellOffset[6];
    int anMaxWorkspace[6];
    int anMaxUsableWorkspace[6];
    int anCubeWorkspace[6];
    int nTableTopOffset;
    int nHighForce;          // Altura A trailer
    int nExtra6DOFOption;    // Altura 6 DOF trailer
    long l1394Serial;        // Cirrel trailer, and Bravis on "1394"
} SIM_TEST_CONFIG;

// A realistic configuration of model nModelType (1..5) on parallel-port unit 1 with the given
// channel, named pszName, stored as "Kinetor<nIndex>.ini".
SIM_TEST_CONFIG SimTestConfig(int nModelType, int nChannel = 2, const char* pszName = "arm",
                              int nIndex = 0);
// The file text of a configuration, in the layout the library reads.
std::string SimTestConfigText(const SIM_TEST_CONFIG& config);

// ---- the arm's geometry, worked out here from its drawings rather than taken from the
// library, so that the library's answers can be checked against it ----
// Link lengths in mm of a configuration (thousandths of an inch in the file).
double SimTestLinkMm(long lConfigured);
// Stylus tip of a three-link arm at joint angles pdQ (rad): base rotation, first link, second
// link relative to the first; workspace origin pdOffset (mm, may be null).
void SimTestTipPosition(double dL1, double dL2, const double* pdQ, const double* pdOffset, double* pdPos);
// Partial derivatives of that tip position: adJ[row x,y,z][joint 0,1,2].
void SimTestTipJacobian(double dL1, double dL2, const double* pdQ, double adJ[3][3]);

class CSimFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // ---- the scratch directories ----
    const std::string& ConfigDir() const { return m_strConfigDir; }
    const std::string& WorkDir() const { return m_strWorkDir; }
    std::string ConfigPath(const std::string& strName) const { return m_strConfigDir + "/" + strName; }
    bool WriteConfigFile(const std::string& strName, const std::string& strText) const;
    std::string ReadConfigFile(const std::string& strName) const;
    bool ConfigFileExists(const std::string& strName) const;

    // ---- configuration and simulator ----
    // Writes the configuration file of the record.
    bool WriteConfig(const SIM_TEST_CONFIG& config) const;
    // Puts the process on the simulated hardware in lockstep pace with the given hand
    // ("free", "hold" or "circle") and brings it back to power-up.
    void StartSimulator(const char* pszHand = "free");

    // ---- the device ----
    // init_kinetor of the name; a handle of 0 or more is remembered and closed in TearDown.
    int OpenDevice(const char* pszName);
    // All in one: writes the configuration, starts the simulator, opens the device and
    // looks up its simulated arm. Returns the handle or init_kinetor's error.
    int OpenSimulatedArm(const SIM_TEST_CONFIG& config, const char* pszHand = "free");
    int OpenSimulatedArm(int nModelType, int nChannel = 2, const char* pszHand = "free");
    // disable_kinetor of a handle opened by OpenDevice, which then is no longer closed in
    // TearDown. Returns disable_kinetor's result.
    int CloseDevice(int nHandle);
    // The simulated arm behind the configuration opened last (null before).
    CSimArm* Arm() const { return m_pArm; }
    int Handle() const { return m_nHandle; }

    // ---- servo ticks ----
    // The tick wait of the device: returns at its next hardware tick (in lockstep after
    // simulated time moved on by one tick and the arm by one physics step).
    static void AwaitTick(int nHandle);
    // nTicks servo ticks of the opened device, each update_kinetor then the tick wait.
    // Stops at the first update that fails and returns its result; 0 when all succeeded.
    int RunTicks(int nTicks);
    // The same with pfnInTick(nTick, pData) called after every successful update, before the
    // wait, as an application's tick callback would; a non-zero result of it also stops
    // the run and is returned.
    int RunTicks(int nTicks, int (*pfnInTick)(int nTick, void* pData), void* pData);
    // Template form for lambdas: int f(int nTick).
    template <class F>
    int RunTicksWith(int nTicks, F fnInTick)
    {
        for (int i = 0; i < nTicks; i++) {
            int r = update_kinetor(m_nHandle);
            if (r != 0)
                return r;
            r = fnInTick(i);
            if (r != 0)
                return r;
            AwaitTick(m_nHandle);
        }
        return 0;
    }

    // The amplifiers of a board with the timeout circuit outlast their enable line by the
    // circuit's hold time, and the board notices the end of it at its next tick. Runs the
    // hardware alone (no library calls) past that, so that amplifiers which are to go off
    // are off, whatever the phase of the line's last fall within its tick.
    static void OutlastAmplifierHold();

    // Homes an Altura (kinetor_reset at its power-up pose) and runs a few ticks so the
    // accumulators settle. Returns the first non-zero result.
    int HomeAltura();

private:
    static void RemoveTree(const std::string& strDir);

    std::string m_strConfigDir;
    std::string m_strWorkDir;
    std::string m_strOldDir;
    bool m_bSimActive = false;
    std::vector<int> m_anOpen;
    int m_nHandle = -1;
    CSimArm* m_pArm = nullptr;
};

#endif
