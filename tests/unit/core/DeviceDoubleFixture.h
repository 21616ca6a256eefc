// A library object configured from a scratch configuration and driving a device double.
#ifndef DEVICE_DOUBLE_FIXTURE_H
#define DEVICE_DOUBLE_FIXTURE_H

#include "CoreTestSupport.h"

#include <string>
#include <vector>

class DeviceDoubleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_env.Ok());
        ASSERT_TRUE(m_env.WriteFile("Kinetor0.ini",
                                    AlturaConfigText("Arm", "a", 8250, 8250, "EPP", 0, 0, 2, 20)));
        char szName[] = "Arm";
        ASSERT_EQ(0, m_obj.ConfigureByDataSource(szName));
        m_obj.SetKinetorParameters();
        m_obj.m_timer.Init();
        m_pFake = new CFakeHapticDevice(m_obj.m_szKinetorName, m_obj.GetMemberData());
        m_obj.m_pDevice = m_pFake;   // the object owns and deletes it
    }

    _KINETOR_DEVICE_DATA& Data() { return *m_obj.GetMemberData(); }

    // Updates n times, expecting success each time.
    void Updates(int n) {
        for (int i = 0; i < n; i++)
            ASSERT_EQ(0, m_obj.UpdateKinetor()) << "update " << i;
    }

    CScratchEnvironment m_env;
    CIOLibAPI m_obj;
    CFakeHapticDevice* m_pFake = nullptr;
};

// Records the order of the calls that closing a device makes and the store flag the pure
// calculations pass on; it outlives the model.
struct CALL_LOG {
    std::vector<std::string> calls;
    std::vector<bool> storeFlags;
};

class CLoggingFake : public CFakeHapticDevice {
public:
    CLoggingFake(char* pszName, _KINETOR_DEVICE_DATA* pDevData, CALL_LOG* pLog)
        : CFakeHapticDevice(pszName, pDevData), m_pLog(pLog) {}
    ~CLoggingFake() override { m_pLog->calls.push_back("delete"); }
    int ZeroTorques() override {
        m_pLog->calls.push_back("ZeroTorques");
        return -21;   // results are ignored when closing
    }
    int EnableAmplifiers(bool bOn) override {
        m_pLog->calls.push_back(bOn ? "AmpsOn" : "AmpsOff");
        return -21;
    }
    int CalculateJointAngles(const long*, float*, bool bStore) override {
        m_pLog->storeFlags.push_back(bStore);
        return 0;
    }
    int CalculateEndpointTransform(float*, float[4][4], bool bStore) override {
        m_pLog->storeFlags.push_back(bStore);
        return 0;
    }

private:
    CALL_LOG* m_pLog;
};

#endif
