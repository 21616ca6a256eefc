// Decoding of the board's encoder packets: input bits, encoders, and the ADC filter.
#include <gtest/gtest.h>

#include <string.h>

#include "transport/firewire/ZanterConvert.h"

namespace {

class ZanterConvertTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        zanter_reset_filters();
        memset(m_auc, 0, sizeof(m_auc));
        m_auc[er_sig_lo] = 'F';
        m_auc[er_sig_hi] = 'W';
    }
    void TearDown() override { zanter_reset_filters(); }
    void Over(int k, unsigned v)
    {
        m_auc[er_adc0_over_lo + 2 * k] = (unsigned char)(v & 0xFF);
        m_auc[er_adc0_over_hi + 2 * k] = (unsigned char)(v >> 8);
    }
    void Under(int k, unsigned v)
    {
        m_auc[er_adc0_under_lo + 2 * k] = (unsigned char)(v & 0xFF);
        m_auc[er_adc0_under_hi + 2 * k] = (unsigned char)(v >> 8);
    }
    unsigned char m_auc[ZANTER_PACKET_SIZE];
};

TEST_F(ZanterConvertTest, InputBitsMapOntoTheBlock)
{
    struct CASE {
        unsigned char ucA;   // byte 19
        unsigned char ucB;   // byte 21
        unsigned char ucMiscIn;
        unsigned char ucSpeed;
    } cases[] = {
        // Nothing set: watchdog fine, home line clear reads as all three home bits.
        {0x00, 0x00, 0x40 | 0x1C, 0x00},
        {0x04, 0x00, 0x40, 0x00},
        {0x04, 0x10, 0x00, 0x00},            // watchdog error
        {0x04, 0x08, 0x40 | 0x20, 0x00},     // current limit
        {0x05, 0x00, 0x40 | 0x02, 0x00},     // switch 0 released
        {0x06, 0x00, 0x40 | 0x01, 0x00},     // switch 1 released
        {0x24, 0x00, 0x40 | 0x80, 0x00},
        {0x04, 0x20, 0x40, 0x10},            // speed errors of axes 0, 1, 2
        {0x04, 0x40, 0x40, 0x20},
        {0x04, 0x80, 0x40, 0x40},
        {0x3F, 0xF8, 0x80 | 0x20 | 0x02 | 0x01, 0x70},
    };
    for (const CASE& c : cases) {
        m_auc[er_reg8_hi] = c.ucA;
        m_auc[er_reg9_hi] = c.ucB;
        _PORT_INPUT block;
        memset(&block, 0xEE, sizeof(block));
        ASSERT_EQ(0, zanter_convert(m_auc, &block));
        EXPECT_EQ(c.ucMiscIn, block.ucMiscIn) << std::hex << (int)c.ucA << " " << (int)c.ucB;
        EXPECT_EQ(c.ucSpeed, block.ucSpeedErrs) << std::hex << (int)c.ucA << " " << (int)c.ucB;
        EXPECT_EQ(0, block.ucWatchdogCntrIn);
    }
}

TEST_F(ZanterConvertTest, EncodersAndTimerAreCopiedLowByteFirst)
{
    const unsigned char aucEnc[6] = {0x34, 0x12, 0xCD, 0xAB, 0x01, 0x80};
    memcpy(&m_auc[er_quad0_lo], aucEnc, sizeof(aucEnc));
    m_auc[er_timer] = 0x5A;
    _PORT_INPUT block;
    ASSERT_EQ(0, zanter_convert(m_auc, &block));
    EXPECT_EQ(0x1234, block.usQuad0);
    EXPECT_EQ(0xABCD, block.usQuad1);
    EXPECT_EQ(0x8001, block.usQuad2);
    EXPECT_EQ(0x5A, block.ucTimerCnt);
}

TEST_F(ZanterConvertTest, BadSignatureLeavesTheBlockAlone)
{
    testing::internal::CaptureStdout();
    for (int nByte : {er_sig_lo, er_sig_hi}) {
        SetUp();
        m_auc[nByte] = 'X';
        _PORT_INPUT block;
        memset(&block, 0xEE, sizeof(block));
        EXPECT_EQ(-1, zanter_convert(m_auc, &block));
        EXPECT_EQ(0xEEEE, block.usQuad0);
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("zanter_convert: bad signature\nzanter_convert: bad signature\n", out);
}

TEST_F(ZanterConvertTest, FilterMovesATenthOfTheWayPerPacket)
{
    // Channel 0 steps from 0 to full scale (over reads 0, inverted): 409.5 rounds to 410,
    // then 0.1 * 4095 + 0.9 * 409.5 = 778.05.
    Over(0, 0);
    Over(1, 4095);
    _PORT_INPUT block;
    ASSERT_EQ(0, zanter_convert(m_auc, &block));
    EXPECT_EQ(410, block.usPot0);
    EXPECT_EQ(0, block.usPot1);
    ASSERT_EQ(0, zanter_convert(m_auc, &block));
    EXPECT_EQ(778, block.usPot0);
    // A reading beyond 12 bits counts as 0 after inversion, never as a wrapped code.
    Over(1, 65535);
    ASSERT_EQ(0, zanter_convert(m_auc, &block));
    EXPECT_EQ(0, block.usPot1);

    // Ratiometric: under * 4095 / (under + over), inverted; rail readings change nothing.
    zanter_reset_filters();
    m_auc[er_reg8_hi] = 0x10;
    Under(2, 1000);
    Over(2, 3095);
    for (int i = 0; i < 300; i++)
        ASSERT_EQ(0, zanter_convert(m_auc, &block));
    EXPECT_EQ(3095, block.usPot2);
    for (unsigned v : {0u, 65535u}) {
        Over(2, v);
        ASSERT_EQ(0, zanter_convert(m_auc, &block));
        EXPECT_EQ(3095, block.usPot2) << v;
    }
}

}  // namespace
