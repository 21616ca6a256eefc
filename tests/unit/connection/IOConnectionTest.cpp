// The forwarding connection: transport creation by card type, forwarding, and the results
// without a transport.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "transport/IOConnection.h"

namespace {

using ::testing::_;
using ::testing::Return;
using ::testing::StrictMock;

class CMockConnection : public CHapticConnection {
public:
    CMockConnection() : CHapticConnection(4) {}
    MOCK_METHOD(int, AllocateConnection, (int nChannel), (override));
    MOCK_METHOD(int, DeleteConnection, (), (override));
    MOCK_METHOD(int, FlushConnection, (BOOLEAN bFlushOnly), (override));
    MOCK_METHOD(void*, GetConnectionData, (), (override));
    MOCK_METHOD(int, GetCalibrationStatus, (int& status), (override));
    MOCK_METHOD(int, UpdateCalibration, (), (override));
    MOCK_METHOD(void, ReadEncoderOffsets, (char* pszName), (override));
    MOCK_METHOD(void, WriteEncoderOffsets, (char* pszName), (override));
    MOCK_METHOD(void, SetEncoderOffsets, (const SHORT* nOffsets), (override));
    MOCK_METHOD(int, ResetBaseEncoders, (), (override));
    MOCK_METHOD(int, ResetGimbalEncoders, (), (override));
    MOCK_METHOD(int, ReadBaseEncoders, (SHORT* nEncoders), (override));
    MOCK_METHOD(int, ReadPinchValue, (SHORT& nEncoder), (override));
    MOCK_METHOD(int, ReadGimbalEncoders, (SHORT* nEncoders), (override));
    MOCK_METHOD(int, ReadDeviceFault, (), (override));
    MOCK_METHOD(int, ReadSwitch, (int switchNum), (override));
    MOCK_METHOD(int, ReadPresence, (int switchNum), (override));
    MOCK_METHOD(int, ReadInkwellSensor, (), (override));
    MOCK_METHOD(int, ReadHomeSensor, (int sensorNum), (override));
    MOCK_METHOD(int, WriteBaseTorques, (USHORT* nTorques), (override));
    MOCK_METHOD(int, WriteGimbalTorques, (USHORT* nTorques), (override));
    MOCK_METHOD(int, EnableBaseAmplifiers, (BOOLEAN bEnable), (override));
    MOCK_METHOD(int, EnableGimbalAmplifiers, (BOOLEAN bEnable), (override));
    MOCK_METHOD(int, SubmitClient, (BOOLEAN bSet), (override));
    MOCK_METHOD(void, Await, (), (override));
    MOCK_METHOD(int, SetKinetorUpdateRate, (ULONG nUpdateRate), (override));
    MOCK_METHOD(int, GetHardwareRevNum, (), (override));
    MOCK_METHOD(int, OverrideStatusLight, (int nStatus), (override));
    MOCK_METHOD(int, RestoreStatusLight, (), (override));
    MOCK_METHOD(int, IsStatusLightEnabled, (), (override));
    MOCK_METHOD(int, ReadStatusLight, (), (override));
};

// What the factory hands out next, and what became of it.
struct FactoryScript {
    bool bNull = false;
    bool bStatus = true;
    bool bNoConnection = false;
    int nCalls = 0;
    int nLastCardType = -1;
    ULONG nLastUnit = 0;
    int nDestroyed = 0;
    StrictMock<CMockConnection>* pMock = nullptr;
};
FactoryScript g_script;

class CTestWrapper : public CKernelDevice {
public:
    CTestWrapper()
    {
        m_bConstructorStatus = g_script.bStatus ? TRUE : FALSE;
        if (!g_script.bNoConnection) {
            g_script.pMock = new StrictMock<CMockConnection>;
            m_pConnection = g_script.pMock;
        }
    }
    ~CTestWrapper() override
    {
        g_script.nDestroyed++;
        g_script.pMock = nullptr;
    }
};

CKernelDevice* CreateTestWrapper(int nCardType, ULONG nUnit)
{
    g_script.nCalls++;
    g_script.nLastCardType = nCardType;
    g_script.nLastUnit = nUnit;
    return g_script.bNull ? nullptr : new CTestWrapper;
}

class IOConnectionFactory : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_script = FactoryScript();
        CIOConnection::SetWrapperFactory(CreateTestWrapper);
    }
    void TearDown() override { CIOConnection::SetWrapperFactory(nullptr); }
};

// Without a transport every operation has its fixed answer and touches nothing.
void ExpectMissingResults(CIOConnection& conn)
{
    int nStatus = 1234;
    SHORT an[3] = {7, 7, 7};
    SHORT nPinch = 7;
    USHORT aus[3] = {1, 2, 3};
    char szName[] = "name";
    EXPECT_EQ(nullptr, conn.GetConnectionData());
    EXPECT_EQ(0, conn.GetCalibrationStatus(nStatus));
    EXPECT_EQ(1234, nStatus);
    EXPECT_EQ(0, conn.UpdateCalibration());
    EXPECT_EQ(0, conn.ReadSwitch(0));
    EXPECT_EQ(0, conn.ReadPinchValue(nPinch));
    EXPECT_EQ(7, nPinch);
    EXPECT_EQ(0, conn.ReadPresence(0));
    EXPECT_EQ(0, conn.ReadInkwellSensor());
    EXPECT_EQ(0, conn.ReadHomeSensor(0));
    EXPECT_EQ(-16, conn.ReadDeviceFault());
    conn.ReadEncoderOffsets(szName);
    conn.WriteEncoderOffsets(szName);
    conn.SetEncoderOffsets(an);
    conn.Await();
    EXPECT_EQ(-11, conn.FlushConnection(FALSE));
    EXPECT_EQ(-11, conn.ResetBaseEncoders());
    EXPECT_EQ(-11, conn.ResetGimbalEncoders());
    EXPECT_EQ(-11, conn.ReadBaseEncoders(an));
    EXPECT_EQ(-11, conn.ReadGimbalEncoders(an));
    EXPECT_EQ(7, an[0]);
    EXPECT_EQ(-11, conn.WriteBaseTorques(aus));
    EXPECT_EQ(-11, conn.WriteGimbalTorques(aus));
    EXPECT_EQ(-11, conn.EnableBaseAmplifiers(TRUE));
    EXPECT_EQ(-11, conn.EnableGimbalAmplifiers(TRUE));
    EXPECT_EQ(-11, conn.SubmitClient(TRUE));
    EXPECT_EQ(-11, conn.SetKinetorUpdateRate(1000));
    EXPECT_EQ(-11, conn.GetHardwareRevNum());
    EXPECT_EQ(-11, conn.OverrideStatusLight(3));
    EXPECT_EQ(-11, conn.RestoreStatusLight());
    EXPECT_EQ(-11, conn.IsStatusLightEnabled());
    EXPECT_EQ(-11, conn.ReadStatusLight());
    EXPECT_EQ(-11, conn.DeleteConnection());
}

TEST(IOConnection, UnknownCardTypes)
{
    for (int nCardType : {7, 0, 1, 2, -1}) {
        CIOConnection conn(nCardType, 0);
        EXPECT_EQ(-7, conn.AllocateConnection(0)) << nCardType;
        ExpectMissingResults(conn);
    }
}

// Without its device node (no card, no simulator) the PCI transport cannot be built.
TEST(IOConnection, TransportWithoutItsNodeGivesMinus9)
{
    for (int nCardType : {3}) {
        CIOConnection conn(nCardType, 0);
        EXPECT_EQ(-9, conn.AllocateConnection(0)) << nCardType;
        ExpectMissingResults(conn);
    }
}

TEST(IOConnection, NeverAllocated)
{
    CIOConnection conn(4, 0);
    ExpectMissingResults(conn);
}

TEST_F(IOConnectionFactory, WrapperFailures)
{
    {
        g_script.bNull = true;
        CIOConnection conn(4, 2);
        EXPECT_EQ(-9, conn.AllocateConnection(1));
        EXPECT_EQ(4, g_script.nLastCardType);
        EXPECT_EQ(2u, g_script.nLastUnit);
        ExpectMissingResults(conn);
    }
    {
        g_script = FactoryScript();
        g_script.bStatus = false;
        CIOConnection conn(6, 0);
        EXPECT_EQ(-9, conn.AllocateConnection(0));
        EXPECT_EQ(1, g_script.nDestroyed);
        ExpectMissingResults(conn);
    }
    {
        g_script = FactoryScript();
        g_script.bNoConnection = true;
        CIOConnection conn(6, 0);
        EXPECT_EQ(-11, conn.AllocateConnection(0));
        EXPECT_EQ(1, g_script.nDestroyed);
        ExpectMissingResults(conn);
    }
    {
        // The transport's own refusal comes back unchanged and leaves nothing behind.
        g_script = FactoryScript();
        CIOConnection conn(4, 0);
        g_script.bNull = false;
        CIOConnection::SetWrapperFactory([](int nCardType, ULONG nUnit) -> CKernelDevice* {
            CKernelDevice* p = CreateTestWrapper(nCardType, nUnit);
            EXPECT_CALL(*g_script.pMock, AllocateConnection(1)).WillOnce(Return(-19));
            return p;
        });
        EXPECT_EQ(-19, conn.AllocateConnection(1));
        EXPECT_EQ(1, g_script.nDestroyed);
        ExpectMissingResults(conn);
    }
}

TEST_F(IOConnectionFactory, ForwardsEveryOperation)
{
    CIOConnection conn(5, 3);
    CIOConnection::SetWrapperFactory([](int nCardType, ULONG nUnit) -> CKernelDevice* {
        CKernelDevice* p = CreateTestWrapper(nCardType, nUnit);
        EXPECT_CALL(*g_script.pMock, AllocateConnection(0)).WillOnce(Return(1));
        return p;
    });
    ASSERT_EQ(1, conn.AllocateConnection(0));
    EXPECT_EQ(5, g_script.nLastCardType);
    EXPECT_EQ(3u, g_script.nLastUnit);
    StrictMock<CMockConnection>& mock = *g_script.pMock;

    int nStatus = 0;
    SHORT an[3] = {0, 0, 0};
    SHORT nPinch = 0;
    USHORT aus[3] = {1, 2, 3};
    char szName[] = "arm";
    const SHORT anOffsets[6] = {1, 2, 3, 4, 5, 6};
    int nData = 0;

    EXPECT_CALL(mock, FlushConnection(FALSE)).WillOnce(Return(-15));
    EXPECT_CALL(mock, GetConnectionData()).WillOnce(Return(&nData));
    EXPECT_CALL(mock, GetCalibrationStatus(_)).WillOnce([](int& s) { s = 0x0F; return 1; });
    EXPECT_CALL(mock, UpdateCalibration()).WillOnce(Return(1));
    EXPECT_CALL(mock, ReadEncoderOffsets(szName));
    EXPECT_CALL(mock, WriteEncoderOffsets(szName));
    EXPECT_CALL(mock, SetEncoderOffsets(anOffsets));
    EXPECT_CALL(mock, ResetBaseEncoders()).WillOnce(Return(-15));
    EXPECT_CALL(mock, ResetGimbalEncoders()).WillOnce(Return(1));
    EXPECT_CALL(mock, ReadBaseEncoders(an)).WillOnce([](SHORT* p) { p[0] = -5; return 1; });
    EXPECT_CALL(mock, ReadPinchValue(_)).WillOnce([](SHORT& s) { s = 30; return 1; });
    EXPECT_CALL(mock, ReadGimbalEncoders(an)).WillOnce(Return(1));
    EXPECT_CALL(mock, ReadDeviceFault()).WillOnce(Return(-17));
    EXPECT_CALL(mock, ReadSwitch(1)).WillOnce(Return(1));
    EXPECT_CALL(mock, ReadPresence(0)).WillOnce(Return(1));
    EXPECT_CALL(mock, ReadInkwellSensor()).WillOnce(Return(1));
    EXPECT_CALL(mock, ReadHomeSensor(2)).WillOnce(Return(1));
    EXPECT_CALL(mock, WriteBaseTorques(aus)).WillOnce(Return(1));
    EXPECT_CALL(mock, WriteGimbalTorques(aus)).WillOnce(Return(-13));
    EXPECT_CALL(mock, EnableBaseAmplifiers(TRUE)).WillOnce(Return(1));
    EXPECT_CALL(mock, EnableGimbalAmplifiers(FALSE)).WillOnce(Return(1));
    EXPECT_CALL(mock, SubmitClient(TRUE)).WillOnce(Return(-11));
    EXPECT_CALL(mock, Await());
    EXPECT_CALL(mock, SetKinetorUpdateRate(2000UL)).WillOnce(Return(-20));
    EXPECT_CALL(mock, GetHardwareRevNum()).WillOnce(Return(190));
    EXPECT_CALL(mock, OverrideStatusLight(5)).WillOnce(Return(1));
    EXPECT_CALL(mock, RestoreStatusLight()).WillOnce(Return(1));
    EXPECT_CALL(mock, IsStatusLightEnabled()).WillOnce(Return(1));
    EXPECT_CALL(mock, ReadStatusLight()).WillOnce(Return(5));

    EXPECT_EQ(-15, conn.FlushConnection(FALSE));
    EXPECT_EQ(&nData, conn.GetConnectionData());
    EXPECT_EQ(1, conn.GetCalibrationStatus(nStatus));
    EXPECT_EQ(0x0F, nStatus);
    EXPECT_EQ(1, conn.UpdateCalibration());
    conn.ReadEncoderOffsets(szName);
    conn.WriteEncoderOffsets(szName);
    conn.SetEncoderOffsets(anOffsets);
    EXPECT_EQ(-15, conn.ResetBaseEncoders());
    EXPECT_EQ(1, conn.ResetGimbalEncoders());
    EXPECT_EQ(1, conn.ReadBaseEncoders(an));
    EXPECT_EQ(-5, an[0]);
    EXPECT_EQ(1, conn.ReadPinchValue(nPinch));
    EXPECT_EQ(30, nPinch);
    EXPECT_EQ(1, conn.ReadGimbalEncoders(an));
    EXPECT_EQ(-17, conn.ReadDeviceFault());
    EXPECT_EQ(1, conn.ReadSwitch(1));
    EXPECT_EQ(1, conn.ReadPresence(0));
    EXPECT_EQ(1, conn.ReadInkwellSensor());
    EXPECT_EQ(1, conn.ReadHomeSensor(2));
    EXPECT_EQ(1, conn.WriteBaseTorques(aus));
    EXPECT_EQ(-13, conn.WriteGimbalTorques(aus));
    EXPECT_EQ(1, conn.EnableBaseAmplifiers(TRUE));
    EXPECT_EQ(1, conn.EnableGimbalAmplifiers(FALSE));
    EXPECT_EQ(-11, conn.SubmitClient(TRUE));
    conn.Await();
    EXPECT_EQ(-20, conn.SetKinetorUpdateRate(2000));
    EXPECT_EQ(190, conn.GetHardwareRevNum());
    EXPECT_EQ(1, conn.OverrideStatusLight(5));
    EXPECT_EQ(1, conn.RestoreStatusLight());
    EXPECT_EQ(1, conn.IsStatusLightEnabled());
    EXPECT_EQ(5, conn.ReadStatusLight());

    // Closing deletes the transport's connection and then the wrapper.
    EXPECT_CALL(mock, DeleteConnection()).WillOnce(Return(1));
    EXPECT_EQ(1, conn.DeleteConnection());
    EXPECT_EQ(1, g_script.nDestroyed);
    ExpectMissingResults(conn);
}

// Allocating again, or destroying an open connection, closes and releases the transport.
TEST_F(IOConnectionFactory, NoWrapperLeftBehind)
{
    CIOConnection::SetWrapperFactory([](int nCardType, ULONG nUnit) -> CKernelDevice* {
        CKernelDevice* p = CreateTestWrapper(nCardType, nUnit);
        EXPECT_CALL(*g_script.pMock, AllocateConnection(_)).WillOnce(Return(1));
        EXPECT_CALL(*g_script.pMock, DeleteConnection()).WillOnce(Return(1));
        return p;
    });
    {
        CIOConnection conn(6, 0);
        ASSERT_EQ(1, conn.AllocateConnection(0));
        ASSERT_EQ(1, conn.AllocateConnection(1));
        EXPECT_EQ(2, g_script.nCalls);
        EXPECT_EQ(1, g_script.nDestroyed);
    }
    EXPECT_EQ(2, g_script.nDestroyed);
}

// Clearing the factory brings back the card-type table.
TEST_F(IOConnectionFactory, NullFactoryRestoresTable)
{
    CIOConnection::SetWrapperFactory(nullptr);
    CIOConnection conn(9, 0);
    EXPECT_EQ(-7, conn.AllocateConnection(0));
    EXPECT_EQ(0, g_script.nCalls);
}

}  // namespace
