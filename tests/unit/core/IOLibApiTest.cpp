// The flat interface and the opening of a device: handles, the table, configurations,
// the state of a fresh object and the identification queries.
#include <math.h>

#include "CoreTestSupport.h"
#include "DeviceDoubleFixture.h"
#include "config/KinetorDevice.h"
#include "KinetorIO.h"

namespace {

class IOLibApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_env.Ok());
        m_before = TableSnapshot();
    }
    void TearDown() override {
        // Nothing a test registered may outlive it.
        for (int i = 0; i < CIOLibAPI::m_kinetorArray.GetSize(); i++) {
            void* p = CIOLibAPI::m_kinetorArray.GetAt(i);
            bool bWasThere = i < (int)m_before.size() && m_before[i] == p;
            if (p != nullptr && !bWasThere)
                delete static_cast<CIOLibAPI*>(p);
        }
        CIOLibAPI::m_kinetorArray.SetSize(20, -1);
    }
    CScratchEnvironment m_env;
    std::vector<void*> m_before;
};

// Every handle-taking function must refuse the handle without touching anything.
void ExpectAllRejected(int id)
{
    float v3[3] = {1, 2, 3}, v6[6] = {1, 2, 3, 4, 5, 6}, T4[4][4] = {{0}};
    double J[6][6] = {{0}};
    long l6[6] = {0};
    int status = 42;
    KINETOR_INFO_STRUCT info;
    memset(&info, 0x5a, sizeof(info));

    EXPECT_EQ(-11, disable_kinetor(id));
    EXPECT_EQ(-11, get_kinetor_info(id, &info, sizeof(info)));
    EXPECT_EQ(0x5a5a5a5a, info.hasGimbal);
    EXPECT_EQ(-11, get_hardware_rev(id));
    EXPECT_EQ(nullptr, get_hardware_serial_number(id));
    EXPECT_EQ(nullptr, get_kinetor_model_type(id));
    EXPECT_EQ(nullptr, get_member_data(id));
    EXPECT_EQ(nullptr, get_connection_data(id));
    EXPECT_EQ(-11, kinetor_check_for_gimbal(id));
    EXPECT_EQ(-11, kinetor_check_for_pinch(id));
    EXPECT_EQ(-11, kinetor_which_pinch(id));
    EXPECT_EQ(-11, update_kinetor(id));
    EXPECT_EQ(-11, kinetor_status(id));
    EXPECT_EQ(-11, unfiltered_device_fault(id));
    EXPECT_EQ(-11, is_kinetor_reset_supported(id));
    EXPECT_EQ(-11, kinetor_reset(id));
    EXPECT_EQ(-11, is_calibration_supported(id));
    EXPECT_EQ(0, get_calibration_status(id, &status));
    EXPECT_EQ(42, status);
    EXPECT_EQ(0, update_calibration(id));
    EXPECT_EQ(-11, set_kinetor_coordinate_system(id, v3, v3, v3, v3));
    EXPECT_EQ(-11, get_kinetor_pos(id, v3));
    EXPECT_EQ(-11, get_kinetor_vel(id, v3));
    EXPECT_EQ(-11, get_kinetor_inst_vel(id, v3));
    EXPECT_EQ(-11, get_kinetor_vel_6dof(id, v6));
    EXPECT_EQ(-11.0f, get_kinetor_rate(id));
    EXPECT_EQ(-11.0f, get_kinetor_inst_rate(id));
    EXPECT_EQ(-11, get_stylus_switch(id, 0));
    EXPECT_EQ(-11, get_stylus_presence(id));
    EXPECT_EQ(-11, get_inkwell_switch(id));
    EXPECT_EQ(-11, get_stylus_matrix(id, T4));
    EXPECT_EQ(-11, get_kinetor_joint_angles(id, v6));
    EXPECT_EQ(-11, get_kinetor_encoders(id, v3));
    EXPECT_EQ(-11, get_kinetor_encoders_6dof(id, v6));
    EXPECT_EQ(-11, get_gimbal_encoders(id, v3));
    EXPECT_EQ(-11, get_encoder_values(id, l6));
    EXPECT_EQ(-11, get_kinetor_jacobian(id, J));
    EXPECT_EQ(-11, calc_joint_angles_from_enc(id, l6, v6));
    EXPECT_EQ(-11, calc_endpoint_from_joint(id, v6, T4));
    EXPECT_EQ(-11, set_joint_angle_references(id, v6));
    EXPECT_EQ(-11, get_kinetor_temp(id, v3));
    EXPECT_EQ(-11, get_kinetor_temp_normalized(id, v3));
    EXPECT_EQ(-11, get_kinetor_temp_6dof(id, v6));
    EXPECT_EQ(-11, get_kinetor_temp_normalized_6dof(id, v6));
    EXPECT_EQ(-11.0f, get_kinetor_nominal_max_stiffness(id));
    EXPECT_EQ(-11.0f, get_kinetor_nominal_max_damping(id));
    EXPECT_EQ(-11.0f, get_kinetor_nominal_max_force(id));
    EXPECT_EQ(-11.0f, get_kinetor_nominal_max_continuous_force(id));
    EXPECT_EQ(-11.0f, get_kinetor_nominal_max_torque_stiffness(id));
    EXPECT_EQ(-11.0f, get_kinetor_nominal_max_torque_damping(id));
    EXPECT_EQ(-11.0f, get_kinetor_nominal_max_torque_force(id));
    EXPECT_EQ(-11.0f, get_kinetor_nominal_max_torque_continuous_force(id));
    EXPECT_EQ(-11, set_kinetor_max_velocity(id, 1.0f));
    EXPECT_EQ(-11.0f, get_kinetor_max_velocity(id));
    EXPECT_EQ(-11, enable_kinetor_velocity_check(id, 1));
    EXPECT_EQ(-11, is_kinetor_velocity_check_enabled(id));
    EXPECT_EQ(-11, enable_kinetor_force_check(id, 1));
    EXPECT_EQ(-11, is_kinetor_force_check_enabled(id));
    EXPECT_EQ(-11, set_kinetor_ramp_forces_rate(id, 1.0f));
    EXPECT_EQ(-11.0f, get_kinetor_ramp_forces_rate(id));
    EXPECT_EQ(-11, enable_kinetor_ramp_forces(id, 1));
    EXPECT_EQ(-11, is_kinetor_ramp_forces_enabled(id));
    EXPECT_EQ(-11, set_kinetor_force_kick_safety(id, 1.0f));
    EXPECT_EQ(-11.0f, get_kinetor_force_kick_safety(id));
    EXPECT_EQ(-11, enable_kinetor_force_kick_safety(id, 1));
    EXPECT_EQ(-11, is_kinetor_force_kick_safety_enabled(id));
    EXPECT_EQ(-11, zero_force_saturation(id));
    EXPECT_EQ(-11, truncate_force_saturation(id));
    EXPECT_EQ(-11, is_force_saturation_enabled(id));
    EXPECT_EQ(-11, enable_kinetor_forces(id));
    EXPECT_EQ(-11, enable_kinetor_forces_no_wait(id));
    EXPECT_EQ(-11, disable_kinetor_forces(id));
    EXPECT_EQ(-11, disable_kinetor_forces_no_wait(id));
    EXPECT_EQ(-11, is_kinetor_forces_enabled(id));
    EXPECT_EQ(-11, send_kinetor_force(id, v3));
    EXPECT_EQ(-11, send_kinetor_force_6dof(id, v6));
    EXPECT_EQ(-11, write_kinetor_joint_torques(id));
    EXPECT_EQ(-11, send_kinetor_joint_torques(id, v6));
    EXPECT_EQ(-11, command_motor_dac_values(id, l6));
    EXPECT_EQ(-11, command_motor_voltages(id, v6, v6));
    EXPECT_EQ(-11, get_kinetor_stuck_pos(id, v3));
    EXPECT_EQ(-11, set_kinetor_stuck_pos(id, v3));
    EXPECT_EQ(-11, calc_kinetor_friction(id, v3, v3, 1.0f, 1.0f, 1.0f));
    EXPECT_EQ(-11.0, get_pinch_value(id));
    EXPECT_EQ(-11, set_pinch_limits(id, 1, 2));
    EXPECT_EQ(-11, is_pinch_calibrated(id));
    EXPECT_EQ(-11, override_status_light(id, 1));
    EXPECT_EQ(-11, restore_status_light(id));
    EXPECT_EQ(-11, is_status_light_enabled(id));
    EXPECT_EQ(-11, get_status_light(id));
    // Caller arrays were left alone.
    EXPECT_EQ(1.0f, v3[0]);
    EXPECT_EQ(6.0f, v6[5]);
}

TEST_F(IOLibApiTest, InvalidHandlesAreRejectedEverywhere)
{
    CIOLibAPI* p = new CIOLibAPI();   // makes sure the table has its 20 slots
    int nSlot = p->RegisterInTable();
    ASSERT_GE(nSlot, 0);
    ASSERT_LE(nSlot, 19);
    delete p;   // the destructor frees the slot: a closed handle
    ASSERT_EQ(nullptr, CIOLibAPI::m_kinetorArray.GetAt(nSlot));

    for (int id : {-1, 20, nSlot, 1000, -2147483647 - 1}) {
        SCOPED_TRACE(id);
        ExpectAllRejected(id);
    }
}

TEST_F(IOLibApiTest, VersionIsTheProjectVersionAndTheVendorIsFixed)
{
    EXPECT_STREQ(KIO_PROJECT_VERSION, get_library_version());
    EXPECT_STREQ("Tandrel Technologies, Inc.", get_vendor_string());
    CIOLibAPI obj;
    EXPECT_STREQ(KIO_PROJECT_VERSION, obj.GetLibraryVersion());
}

TEST_F(IOLibApiTest, SlotsAreReusedLowestFirstAndOnlyTwentyAreReachable)
{
    CIOLibAPI::m_kinetorArray.SetSize(20, -1);
    for (int i = 0; i < 20; i++)
        CIOLibAPI::m_kinetorArray.SetAt(i, nullptr);

    std::vector<CIOLibAPI*> objs;
    for (int i = 0; i < 20; i++) {
        objs.push_back(new CIOLibAPI());
        EXPECT_EQ(i, objs.back()->RegisterInTable());
    }
    // Closing handle 3 and 7: the next two take 3, then 7.
    delete objs[7];
    delete objs[3];
    CIOLibAPI* a = new CIOLibAPI();
    CIOLibAPI* b = new CIOLibAPI();
    EXPECT_EQ(3, a->RegisterInTable());
    EXPECT_EQ(7, b->RegisterInTable());

    // With all twenty taken the next object is appended as 20, which the API refuses.
    CIOLibAPI* c = new CIOLibAPI();
    EXPECT_EQ(20, c->RegisterInTable());
    EXPECT_EQ(21, CIOLibAPI::m_kinetorArray.GetSize());
    EXPECT_EQ(-11, update_kinetor(20));
    EXPECT_EQ(-11.0f, get_kinetor_rate(20));
    EXPECT_EQ(nullptr, get_member_data(20));
    // A registered handle is accepted: set_joint_angle_references answers 1.
    float angles[6] = {0};
    EXPECT_EQ(1, set_joint_angle_references(3, angles));
    EXPECT_EQ(a->GetMemberData(), get_member_data(3));

    // disable_kinetor destroys the object and frees the slot.
    EXPECT_EQ(0, disable_kinetor(3));
    EXPECT_EQ(nullptr, CIOLibAPI::m_kinetorArray.GetAt(3));
    EXPECT_EQ(-11, update_kinetor(3));
}

// Opening without an attached arm fails in the model or its connection, never in the
// configuration; with a simulated arm it succeeds. Either way nothing is left behind.
void ExpectOpenedOrFailedCleanly(int r, const std::vector<void*>& before)
{
    if (r >= 0)
        EXPECT_EQ(0, disable_kinetor(r));
    else
        EXPECT_NE(-5, r);
    EXPECT_EQ(before, TableSnapshot());
}

TEST_F(IOLibApiTest, NameLongerThanTheBufferIsRefusedNotCut)
{
    // A configuration named by the first 127 characters of the names below.
    std::string strStored(127, 'n');
    ASSERT_TRUE(m_env.WriteFile("Kinetor0.ini", AlturaConfigText(strStored.c_str(), "a", 8250, 8250,
                                                                  "EPP", 0, 1, 2, 20)));
    // 511 characters still fit the buffer and reach the configuration look-up.
    std::string strFits(511, 'n');
    ExpectOpenedOrFailedCleanly(init_kinetor(&strFits[0]), m_before);
    // One more must not be cut down to a name that opens that configuration.
    std::string strLong(512, 'n');
    EXPECT_EQ(-5, init_kinetor(&strLong[0]));
    EXPECT_EQ(m_before, TableSnapshot());
}

TEST_F(IOLibApiTest, UnknownNameGivesMinusFiveAndLeavesTheTable)
{
    ASSERT_TRUE(m_env.WriteFile("Kinetor0.ini", AlturaConfigText("Arm", "a", 8250, 8250, "EPP", 0, 1, 2, 20)));
    char szName[] = "NoSuchArm";
    EXPECT_EQ(-5, init_kinetor(szName));
    EXPECT_EQ(m_before, TableSnapshot());
}

TEST_F(IOLibApiTest, ValidConfigurationOpensOrFailsCleanly)
{
    ASSERT_TRUE(m_env.WriteFile("Kinetor0.ini", AlturaConfigText("Arm", "a", 8250, 8250, "EPP", 0, 1, 2, 20)));
    char szName[] = "Arm";
    char szEmpty[] = "";
    ExpectOpenedOrFailedCleanly(init_kinetor(szName), m_before);
    ExpectOpenedOrFailedCleanly(init_kinetor(szEmpty), m_before);
}

TEST_F(IOLibApiTest, AxisWithoutCountsPerRevolutionReadsNoAngle)
{
    // The shortest Altura block: two ratios, the scale and one count; the gimbal's counts
    // per revolution stay 0 while channel 2 still gives the arm a gimbal.
    ASSERT_TRUE(m_env.WriteFile("Kinetor0.ini", "Short\na\n8250, 8250\nEPP\n0x378, 0\n1, 2\n"
                                                "0.076912, 0.090066\n114293\n4000\n"));
    CIOLibAPI obj;
    char szName[] = "Short";
    ASSERT_EQ(0, obj.ConfigureByDataSource(szName));
    const _KINETOR_DEVICE_DATA& d = *obj.GetMemberData();
    EXPECT_FLOAT_EQ(6.28318f / 4000.0f, d.fCPRToRadians[0]);
    for (int k = 3; k < 6; k++)
        EXPECT_EQ(0.0f, d.fCPRToRadians[k]) << k;
}

TEST_F(IOLibApiTest, ConfigureDerivesTheDeviceParameters)
{
    ASSERT_TRUE(m_env.WriteFile("Kinetor1.ini", AlturaConfigText("First", "a", 8250, 8250, "EPP", 1, 0, 2, 90)));
    ASSERT_TRUE(m_env.WriteFile("Kinetor3.ini", AlturaConfigText("Second", "a", 5500, 8250, "EPP", 0, 1, 0, 20)));

    CIOLibAPI obj;
    char szEmpty[] = "";
    ASSERT_EQ(0, obj.ConfigureByDataSource(szEmpty));
    EXPECT_STREQ("First", obj.m_szKinetorName);
    EXPECT_EQ(1, obj.m_nModelType);
    EXPECT_EQ(4, obj.m_nCardType);
    EXPECT_EQ(1u, obj.m_nUnit);   // configured unit index 1 is unit number 2, zero-based 1
    EXPECT_EQ(2, obj.m_nChannel);
    EXPECT_EQ(0, obj.m_bWatchdogTimer);
    EXPECT_STREQ("Unavailable", obj.GetKinetorSerialNumber());
    EXPECT_STREQ("KINETOR Altura 1.5", obj.GetKinetorModelType());
    const _KINETOR_DEVICE_DATA& d = *obj.GetMemberData();
    EXPECT_FLOAT_EQ(8250.0f * 0.0254f, d.fL1);
    EXPECT_FLOAT_EQ(114.293f, d.fTtm[0]);
    EXPECT_FLOAT_EQ(114.293f, d.fTtm[2]);
    EXPECT_FLOAT_EQ(6.28318f / 4000.0f, d.fCPRToRadians[1]);
    EXPECT_FLOAT_EQ(6.28318f / 2000.0f, d.fCPRToRadians[4]);
    EXPECT_FLOAT_EQ(0.076912f, d.fReductionDirect[0]);
    EXPECT_FLOAT_EQ(0.2f, d.fZeroPositionJointAngles[1]);
    EXPECT_EQ(4294967295UL, d.nAmpDACLimit);
    EXPECT_EQ(90, d.nMotorType[0]);
    EXPECT_EQ(90, d.nMotorType[2]);
    EXPECT_EQ(0, d.nMotorType[3]);
    EXPECT_EQ(0, d.bIs6DOF);
    EXPECT_FLOAT_EQ(8.5f, obj.GetKinetorNominalMaxForce());
    EXPECT_FLOAT_EQ(1.4f, obj.GetKinetorNominalMaxContinuousForce());

    KINETOR_INFO_STRUCT info;
    memset(&info, 0, sizeof(info));
    obj.SetKinetorParameters();
    EXPECT_EQ(0, obj.GetKinetorInfo(&info, sizeof(info)));
    EXPECT_EQ(1, info.hasGimbal);   // channel 2
    EXPECT_EQ(0, info.is6DOF);
    EXPECT_EQ(0, info.is1394Device);
    EXPECT_EQ(-168, info.maxWorkspace.yMin);
    EXPECT_EQ(440, info.maxUsableWorkspace.yMax);
    EXPECT_EQ(149, info.cubeWorkspace.yMax);
    EXPECT_EQ(34, info.tableTopOffset);

    // Motor type 90 on the parallel port draws 15/32768 A per count; others keep zero.
    EXPECT_FLOAT_EQ(15.0f / 32768.0f, d.fApT[0]);
    EXPECT_FLOAT_EQ(1070.0f, d.fMaxMotorTorques[1]);
    EXPECT_EQ(0.0f, d.fApT[3]);
    EXPECT_EQ(25.0f, d.fTcu[4]);
    // The nominal 1000 Hz filter: tan(0.05 pi) and a window of 900 to 1100.
    EXPECT_NEAR(0.158384, d.fB, 1e-5);
    EXPECT_FLOAT_EQ(1000.0f, d.fTargetUpdateRate);
    EXPECT_FLOAT_EQ(900.0f, d.fInstRateLowerLimit);
    EXPECT_FLOAT_EQ(1100.0f, d.fInstRateUpperLimit);

    // The second configuration: channel 0 without gimbal, mixed link lengths.
    CIOLibAPI obj2;
    char szSecond[] = "Second";
    ASSERT_EQ(0, obj2.ConfigureByDataSource(szSecond));
    obj2.SetKinetorParameters();
    EXPECT_EQ(0, obj2.CheckForGimbal());
    EXPECT_EQ(1, obj2.m_bWatchdogTimer);
    EXPECT_EQ(0u, obj2.m_nUnit);
    EXPECT_STREQ("KINETOR Device", obj2.GetKinetorModelType());
    EXPECT_FLOAT_EQ(12.2f / 32768.0f, obj2.GetMemberData()->fApT[0]);
}

TEST_F(IOLibApiTest, ConfigurationErrors)
{
    // A name of 200 characters is compared by its first 127 only.
    std::string strName(127, 'x');
    ASSERT_TRUE(m_env.WriteFile("Kinetor0.ini", AlturaConfigText(strName.c_str(), "a", 8250, 8250, "EPP", 0, 1, 2, 20)));
    std::string strLong(200, 'x');
    CIOLibAPI obj;
    EXPECT_EQ(0, obj.ConfigureByDataSource(&strLong[0]));

    // A PCI configuration is accepted; an ISA one is not a card the library runs.
    ASSERT_TRUE(m_env.WriteFile("Kinetor1.ini", AlturaConfigText("Isa", "a", 8250, 8250, "ISA", 0, 1, 2, 20)));
    char szIsa[] = "Isa";
    CIOLibAPI objIsa;
    EXPECT_EQ(-22, objIsa.ConfigureByDataSource(szIsa));

    ASSERT_TRUE(m_env.WriteFile("Kinetor2.ini", AlturaConfigText("Chan", "a", 8250, 8250, "EPP", 0, 1, 4, 20)));
    char szChan[] = "Chan";
    CIOLibAPI objChan;
    EXPECT_EQ(-5, objChan.ConfigureByDataSource(szChan));

    ASSERT_TRUE(m_env.WriteFile("Kinetor4.ini", "Broken\na\n"));
    char szBroken[] = "Broken";
    CIOLibAPI objBroken;
    EXPECT_EQ(-5, objBroken.ConfigureByDataSource(szBroken));
}

TEST_F(IOLibApiTest, ModelStrings)
{
    struct {
        const char* pszModel;
        int nL1, nL2;
        const char* pszExpected;
    } cases[] = {
        {"a", 5500, 5500, "KINETOR Altura 1.0"},  {"a", 8250, 8250, "KINETOR Altura 1.5"},
        {"a", 18000, 18000, "KINETOR Altura 3.0"}, {"a", 5500, 8250, "KINETOR Device"},
        {"t", 1234, 5678, "KINETOR Altura T"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.pszExpected);
        ASSERT_TRUE(m_env.WriteFile("Kinetor0.ini", AlturaConfigText("M", c.pszModel, c.nL1, c.nL2, "EPP", 0, 1, 2, 20)));
        CIOLibAPI obj;
        char szName[] = "M";
        ASSERT_EQ(0, obj.ConfigureByDataSource(szName));
        EXPECT_STREQ(c.pszExpected, obj.GetKinetorModelType());
    }
    ASSERT_TRUE(m_env.WriteFile("Kinetor0.ini", BravisLikeConfigText("B", "p")));
    ASSERT_TRUE(m_env.WriteFile("Kinetor1.ini", BravisLikeConfigText("C", "cirrel")));
    CIOLibAPI b, c;
    char szB[] = "B", szC[] = "C";
    ASSERT_EQ(0, b.ConfigureByDataSource(szB));
    ASSERT_EQ(0, c.ConfigureByDataSource(szC));
    EXPECT_STREQ("KINETOR Bravis", b.GetKinetorModelType());
    EXPECT_STREQ("KINETOR Cirrel", c.GetKinetorModelType());
    EXPECT_EQ(1, b.IsCalibrationSupported());
    EXPECT_EQ(0, b.IsKinetorResetSupported());
    // Bravis has a gimbal whatever the channel; status light only there.
    b.SetKinetorParameters();
    EXPECT_EQ(1, b.CheckForGimbal());
    EXPECT_EQ(-10, c.OverrideStatusLight(1));
    EXPECT_EQ(-10, c.ReadStatusLight());
}

TEST_F(IOLibApiTest, MotorParametersFollowCardType)
{
    CIOLibAPI obj;
    _KINETOR_DEVICE_DATA& d = *obj.GetMemberData();
    const int anTypes[6] = {90, 15, 7, 8, 20, 33};
    for (int i = 0; i < 6; i++)
        d.nMotorType[i] = anTypes[i];
    obj.m_nCardType = 6;
    obj.SetKinetorParameters();
    EXPECT_FLOAT_EQ(26.9f / 32768.0f, d.fApT[0]);
    EXPECT_FLOAT_EQ(0.9f / 32768.0f, d.fApT[1]);
    EXPECT_FLOAT_EQ(85.0f, d.fTmax[2]);
    EXPECT_FLOAT_EQ(2065.887f, d.fThermalDecayK2[3]);
    EXPECT_FLOAT_EQ(0.0886f, d.fThermalDecayA1[2]);
    EXPECT_FLOAT_EQ(0.0000000127f, d.fThermalDecayK5[3]);
    EXPECT_FLOAT_EQ(14.0f, d.fRfa[4]);
    EXPECT_EQ(0.0f, d.fMcu[5]);   // unknown type keeps its zeros
    // FireWire devices start with the saturation presets.
    EXPECT_FLOAT_EQ(1070.0f, d.fSaturationTorques[0]);
    EXPECT_FLOAT_EQ(6.75f, d.fSaturationTorques[1]);
    EXPECT_FLOAT_EQ(66.9f, d.fSaturationTorques[2]);
    EXPECT_FLOAT_EQ(63.0f, d.fSaturationTorques[3]);
    EXPECT_EQ(0.0f, d.fSaturationTorques[5]);
    // A parallel-port card with the same motors, and no gimbal on channel 0 / model 1.
    CIOLibAPI obj4;
    obj4.GetMemberData()->nMotorType[0] = 90;
    obj4.m_nCardType = 5;
    obj4.m_nModelType = 1;
    obj4.SetKinetorParameters();
    EXPECT_FLOAT_EQ(15.0f / 32768.0f, obj4.GetMemberData()->fApT[0]);
    EXPECT_EQ(0.0f, obj4.GetMemberData()->fSaturationTorques[0]);
    EXPECT_EQ(0, obj4.CheckForGimbal());
}

TEST_F(IOLibApiTest, TempCheckSwitchedOffByMerePresenceOfTheVariable)
{
    {
        CIOLibAPI obj;
        EXPECT_EQ(1, obj.m_bTempCheckEnabled);
    }
    setenv("TDL_DISABLE_TEMP_CHECK", "", 1);
    CIOLibAPI obj;
    unsetenv("TDL_DISABLE_TEMP_CHECK");
    EXPECT_EQ(0, obj.m_bTempCheckEnabled);
    EXPECT_EQ(1, obj.m_bVelocityCheckEnabled);
    EXPECT_EQ(0, obj.m_bForceKickSafetyEnabled);
}

TEST_F(IOLibApiTest, InfoCopiesOnlyWhatTheCallerAsksFor)
{
    CIOLibAPI* p = new CIOLibAPI();
    p->m_devInfo.hasGimbal = 1;
    p->m_devInfo.is6DOF = 2;
    p->m_devInfo.isBravis = 3;
    p->m_devInfo.extra6DOFOption = 9;
    int id = p->RegisterInTable();
    ASSERT_GE(id, 0);

    int buf[30];
    for (int& v : buf)
        v = -7;
    EXPECT_EQ(0, get_kinetor_info(id, buf, 8));
    EXPECT_EQ(1, buf[0]);
    EXPECT_EQ(2, buf[1]);
    EXPECT_EQ(-7, buf[2]);
    EXPECT_EQ(0, get_kinetor_info(id, buf, sizeof(buf)));
    EXPECT_EQ(9, buf[23]);
    EXPECT_EQ(-7, buf[24]);
    EXPECT_EQ(24u * 4u, sizeof(KINETOR_INFO_STRUCT));
    delete p;
}

TEST_F(IOLibApiTest, ResetNeededOnlyForModelsHomedAtTheirResetPosition)
{
    ASSERT_TRUE(m_env.WriteFile("Kinetor0.ini", BravisLikeConfigText("Bravis", "p")));
    ASSERT_TRUE(m_env.WriteFile("Kinetor2.ini", BravisLikeConfigText("Cirrel", "cirrel")));
    ASSERT_TRUE(m_env.WriteFile("Kinetor5.ini", AlturaConfigText("Altura", "a", 8250, 8250, "EPP", 0, 1, 2, 20)));

    int bReset = 7;
    const char* both[] = {"Bravis", nullptr, "Cirrel"};
    EXPECT_EQ(0, is_kinetor_reset_needed(both, 3, &bReset));
    EXPECT_EQ(0, bReset);
    const char* withAltura[] = {"Bravis", "Cirrel", "Altura"};
    EXPECT_EQ(0, is_kinetor_reset_needed(withAltura, 3, &bReset));
    EXPECT_EQ(1, bReset);
    const char* unknown[] = {"Nobody"};
    EXPECT_EQ(0, is_kinetor_reset_needed(unknown, 1, &bReset));
    EXPECT_EQ(0, bReset);
    EXPECT_EQ(0, is_kinetor_reset_needed(nullptr, 2, &bReset));
    EXPECT_EQ(0, bReset);
}

TEST_F(IOLibApiTest, FreshObjectHasForcesOffItsGuardsOnAndNoDevice)
{
    CIOLibAPI obj;
    EXPECT_EQ(0, obj.m_nModelType);
    EXPECT_EQ(1, obj.m_bRampForces);
    EXPECT_EQ(0, obj.m_bForcesEnabled);
    EXPECT_EQ(0, obj.m_bHasBeenReset);
    EXPECT_EQ(1, obj.m_bForceCheckEnabled);
    EXPECT_EQ(1, obj.m_bRampForcesEnabled);
    EXPECT_EQ(0.5f, obj.m_fRampForcesRate);
    EXPECT_EQ(4.0f, obj.m_fForceKickLimit);
    EXPECT_EQ(1440000.0f, obj.m_fMaxCartesianVelocitySquared);
    EXPECT_EQ(0, obj.m_bTransformCoordinates);
    EXPECT_EQ(nullptr, obj.m_pDevice);
    EXPECT_STREQ("", obj.m_szKinetorName);
    EXPECT_STREQ("", obj.GetKinetorSerialNumber());
    EXPECT_STREQ("KINETOR Device", obj.GetKinetorModelType());

    // The motors start at ambient and the velocity filter passes values straight through.
    const _KINETOR_DEVICE_DATA& d = *obj.GetMemberData();
    EXPECT_EQ(25.0f, d.fTatm);
    EXPECT_EQ(0, d.nRuns);
    EXPECT_EQ(1.0f, d.fFilterC0);
    EXPECT_EQ(0.0f, d.fFilterD1);
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(25.0f, d.fTcu[i]) << i;
        EXPECT_EQ(25.0f, d.fTfe[i]) << i;
    }
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) {
            const float fExpected = (i == j) ? 1.0f : 0.0f;
            EXPECT_EQ(fExpected, d.fEndpointFrame[i][j]);
            EXPECT_EQ(fExpected, obj.m_matCoordTransform[i][j]);
            EXPECT_EQ(fExpected, obj.m_matCoordTransformInverse[i][j]);
        }
}

TEST_F(IOLibApiTest, OnlyFireWireBoardsReportTheirSerialNumberText)
{
    CIOLibAPI obj;
    CKinetorDevice rec;
    rec.m_nCardType = 6;
    rec.m_n1394SerialNumber = 12345;   // first scheme: the number itself in eleven digits
    obj.LoadKinetorSerialNumber(&rec);
    EXPECT_STREQ("00000012345", obj.GetKinetorSerialNumber());
    // The same number on a parallel-port card is not a board serial number.
    rec.m_nCardType = 4;
    obj.LoadKinetorSerialNumber(&rec);
    EXPECT_STREQ("Unavailable", obj.GetKinetorSerialNumber());
}

using DeviceQueryTest = DeviceDoubleTest;

TEST_F(DeviceQueryTest, PinchResetCalibrationAndStatusLightFollowTheModel)
{
    const struct {
        int nOption, nPinch;
    } cases[] = {{0, 0}, {1, 1}, {2, 1}, {3, 0}};
    for (const auto& c : cases) {
        Data().nExtra6DOFOption = c.nOption;
        EXPECT_EQ(c.nPinch, m_obj.CheckForPinch()) << c.nOption;
        EXPECT_EQ(c.nOption, m_obj.WhichPinch());
    }
    const int anReset[6] = {0, 1, 1, 0, 1, 0};
    const int anCalib[6] = {0, 0, 0, 1, 0, 1};
    for (int nModel = 0; nModel <= 5; nModel++) {
        m_obj.m_nModelType = nModel;
        EXPECT_EQ(anReset[nModel], m_obj.IsKinetorResetSupported()) << nModel;
        EXPECT_EQ(anCalib[nModel], m_obj.IsCalibrationSupported()) << nModel;
    }
    // The status light exists on the Bravis only; there the model answers.
    m_obj.m_nModelType = 3;
    EXPECT_EQ(1, m_obj.IsStatusLightEnabled());
    EXPECT_EQ(1, m_obj.ReadStatusLight());
    EXPECT_EQ(0, m_obj.OverrideStatusLight(1));
    EXPECT_EQ(0, m_obj.RestoreStatusLight());
    m_obj.m_nModelType = 1;
    EXPECT_EQ(-10, m_obj.IsStatusLightEnabled());
    EXPECT_EQ(-10, m_obj.RestoreStatusLight());
    EXPECT_EQ(7, m_obj.GetHardwareRevNum());
    EXPECT_EQ(m_pFake, m_obj.GetConnectionData());
}

}  // namespace
