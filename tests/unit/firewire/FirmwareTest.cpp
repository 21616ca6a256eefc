// The firmware library against a simulated board: CRC and configuration ROM against values
// worked out by hand, node search, and the flash programming round trip.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <memory>
#include <vector>

#include "KinetorFirmware.h"
#include "firmware/FirmwareInternal.h"
#include "sim/SimFireWireBus.h"
#include "sim/SimTestInterface.h"

namespace {

// The textbook bitwise CRC-16 (polynomial 0x1021, start 0) over bytes, most significant
// bit first: an independent computation of what the nibble-wise ROM CRC must give.
uint16_t BitwiseCrc(const std::vector<uint8_t>& bytes)
{
    uint16_t crc = 0;
    for (uint8_t b : bytes) {
        crc = (uint16_t)(crc ^ (b << 8));
        for (int i = 0; i < 8; i++)
            crc = (uint16_t)((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::vector<uint8_t> Bytes(const std::vector<uint32_t>& quadlets)
{
    std::vector<uint8_t> v;
    for (uint32_t q : quadlets)
        for (int s = 24; s >= 0; s -= 8)
            v.push_back((uint8_t)(q >> s));
    return v;
}

TEST(RomCrcTest, MatchesPublishedAndHandCheckedValues)
{
    // The published check value of this CRC ("XMODEM") keeps the reference honest.
    const char* psz = "123456789";
    ASSERT_EQ(0x31C3, BitwiseCrc(std::vector<uint8_t>(psz, psz + 9)));
    struct CASE {
        std::vector<uint32_t> q;
        int nExpected;   // -1: the bitwise reference
    } cases[] = {
        {{}, 0},
        {{0x00000001}, 0x1021},
        {{0x31323334, 0x35363738}, -1},
        {{0x31333934, 0x60645000, 0x00A7E500, 0x00003039}, -1},
        {{0xFFFFFFFF, 0x00000000, 0x80000000}, -1},
    };
    for (const CASE& c : cases) {
        int nExpected = c.nExpected >= 0 ? c.nExpected : BitwiseCrc(Bytes(c.q));
        EXPECT_EQ(nExpected, ohci_crc16(c.q.data(), (int)c.q.size())) << c.q.size() << " quadlets";
    }
}

TEST(ConfigRomTest, ImageEqualsTheOneBuiltByHand)
{
    // Bus information block, root directory, unit directory and text leaf, with the two
    // directory entries pointing 3 and 4 quadlets ahead to the units they name.
    std::vector<uint32_t> bus = {0x31333934, 0x60645000, 0x00A7E500, 12345};
    std::vector<uint32_t> root = {0x0300A7E5, 0xD1000003, 0x0C0083C0, 0x81000004};
    std::vector<uint32_t> unit = {0x1200A7E5, 0x13010002};
    std::vector<uint32_t> leaf = {0, 0, 0x54616E64, 0x72656C20, 0x54656368, 0x6E6F6C6F, 0x67696573};
    std::vector<uint32_t> image;
    auto add = [&](const std::vector<uint32_t>& body) {
        image.push_back(((uint32_t)body.size() << 16) | BitwiseCrc(Bytes(body)));
        image.insert(image.end(), body.begin(), body.end());
    };
    add(bus);
    add(root);
    add(unit);
    add(leaf);
    std::vector<uint32_t> all(image.begin() + 1, image.end());
    image[0] = (4u << 24) | ((uint32_t)all.size() << 16) | BitwiseCrc(Bytes(all));
    std::vector<uint8_t> expected = Bytes(image);
    ASSERT_EQ(84u, expected.size());

    uint8_t auc[256];
    ASSERT_EQ(84, zanload_make_config_rom(12345, auc, sizeof(auc)));
    EXPECT_EQ(0, memcmp(expected.data(), auc, 84));
    // The buffer must be larger than the image.
    EXPECT_EQ(-1, zanload_make_config_rom(12345, auc, 84));
    EXPECT_EQ(84, zanload_make_config_rom(12345, auc, 85));
}

TEST(ZanloadErrstrTest, EveryCodeHasItsOwnText)
{
    std::vector<std::string> texts;
    for (int code = ZANLOAD_NO_ERROR; code <= ZANLOAD_ERASE_ERROR; code++) {
        std::string s = zanload_errstr(code);
        EXPECT_FALSE(s.empty()) << code;
        for (const std::string& t : texts)
            EXPECT_NE(t, s) << code;
        texts.push_back(s);
    }
    EXPECT_NE(nullptr, zanload_errstr(99));
}

class FirmwareBoardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SimActivate("pace=lockstep");
        SimReset();
        fw_reset_state();
        fw_set_delay_scale(0.0);
        m_pFirmware.reset(new zanload_firmware());
        memset(m_pFirmware.get(), 0, sizeof(zanload_firmware));
    }
    void TearDown() override
    {
        fw_reset_state();
        fw_set_delay_scale(1.0);
        SimReset();
        SimDeactivate();
    }
    // One board on port 0 that the loader operations address.
    void OneBoard(ULONG nSerial)
    {
        ASSERT_TRUE(SimFireWireBus().AddBoard(nSerial, 0));
        ASSERT_EQ(0, fw_init());
        ASSERT_EQ(0, fw_find_zanter((int)nSerial, nullptr));
    }

    std::unique_ptr<zanload_firmware> m_pFirmware;
};

TEST_F(FirmwareBoardTest, SearchesFollowPortAndNodeOrder)
{
    CSimFireWireBus& bus = SimFireWireBus();
    bus.SetPortCount(2);
    ASSERT_TRUE(bus.AddBoard(333, 1));
    ASSERT_TRUE(bus.AddBoard(111, 0));
    ASSERT_TRUE(bus.AddBoard(222, 0));
    EXPECT_EQ(2, fw_get_num_ports());
    int nSerial = 0;
    ASSERT_EQ(0, fw_search_for_1394_device(&nSerial));
    EXPECT_EQ(111, nSerial);
    int nPort = -1;
    ASSERT_EQ(0, fw_find_zanter_port(333, &nPort));
    EXPECT_EQ(1, nPort);
    ASSERT_EQ(0, fw_find_zanter_port(222, &nPort));
    EXPECT_EQ(0, nPort);
    EXPECT_EQ(1, fw_get_zanter_node());
    EXPECT_EQ(-1, fw_find_zanter(444, nullptr));

    // A node whose GUID bank is not the board's is passed over, serial number unread.
    const UCHAR aucOther[4] = {0x00, 0x11, 0x22, 0x33};
    ASSERT_TRUE(bus.PokeFlash(111, 6, 0x0C, aucOther, 4));
    ASSERT_EQ(0, fw_search_for_1394_device(&nSerial));
    EXPECT_EQ(222, nSerial);
    EXPECT_EQ(-1, fw_find_zanter(111, nullptr));
    // Reads that keep failing count as no match; four attempts beat three failures.
    SimFailRequest("raw1394_read", 3);
    EXPECT_EQ(0, fw_find_zanter(222, nullptr));
    SimFailRequest("raw1394_read", -1);
    EXPECT_EQ(-1, fw_find_zanter(222, nullptr));
    SimFailRequest("raw1394_read", 0);
}

TEST_F(FirmwareBoardTest, IndexedSearchVisitsEveryBoardAndPointsTheLoaderAtIt)
{
    CSimFireWireBus& bus = SimFireWireBus();
    bus.SetPortCount(2);
    ASSERT_TRUE(bus.AddBoard(333, 1));
    ASSERT_TRUE(bus.AddBoard(111, 0));
    ASSERT_TRUE(bus.AddBoard(222, 0));
    ASSERT_TRUE(bus.SetFirmwareVersion(222, 0x0123));
    ASSERT_TRUE(bus.SetFirmwareVersion(333, 0x0200));
    // A node that is not a board is no entry of the walk.
    const UCHAR aucOther[4] = {0x00, 0x11, 0x22, 0x33};
    ASSERT_TRUE(bus.AddBoard(999, 1));
    ASSERT_TRUE(bus.PokeFlash(999, 6, 0x0C, aucOther, 4));
    ASSERT_EQ(0, fw_init());
    struct {
        int nSerial;
        int nPort;
        int nVersion;
    } expected[] = {{111, 0, 190}, {222, 0, 291}, {333, 1, 512}};
    for (int i = 0; i < 3; i++) {
        SCOPED_TRACE(i);
        int nSerial = 0;
        int nPort = -1;
        ASSERT_EQ(0, fw_find_zanter_index(i, &nSerial, &nPort));
        EXPECT_EQ(expected[i].nSerial, nSerial);
        EXPECT_EQ(expected[i].nPort, nPort);
        // The loader operations now talk to that board, on its port.
        zanload_boot_config cfg;
        ASSERT_EQ(0, zanload_get_config(&cfg, nullptr));
        EXPECT_EQ(expected[i].nSerial, cfg.serial_number);
        EXPECT_EQ(expected[i].nVersion, cfg.cur_app_version);
    }
    EXPECT_EQ(-1, fw_find_zanter_index(3, nullptr, nullptr));
    EXPECT_EQ(-1, fw_find_zanter_index(-1, nullptr, nullptr));
    // The end of the walk leaves the loader on the board it last found.
    zanload_boot_config cfg;
    ASSERT_EQ(0, zanload_get_config(&cfg, nullptr));
    EXPECT_EQ(333, cfg.serial_number);
}

TEST_F(FirmwareBoardTest, FlashRoundTripAndCommit)
{
    OneBoard(5150);
    zanload_boot_config cfg;
    ASSERT_EQ(0, zanload_get_config(&cfg, nullptr));
    EXPECT_EQ(4, cfg.cur_app_bank);
    EXPECT_EQ(5, cfg.alt_app_bank);
    EXPECT_EQ(15, cfg.boot_bank);
    EXPECT_EQ(5150, cfg.serial_number);
    EXPECT_EQ(0, cfg.running_in_ram);

    zanload_firmware& fw = *m_pFirmware;
    fw.to_bank = 5;
    fw.type = 'A';
    fw.size = 3001;
    for (int i = 0; i < fw.size; i++)
        fw.image[i] = (unsigned char)(i * 7 + 3);
    fw.image[0x2E] = 0x01;   // version 0x01C2 = 450
    fw.image[0x2F] = 0xC2;
    ASSERT_EQ(0, zanload_erase(&cfg, &fw, nullptr));
    ASSERT_EQ(ZANLOAD_NO_ERROR, zanload_write_and_verify(&cfg, &fw, nullptr));

    zanload_firmware* pBack = new zanload_firmware();
    pBack->to_bank = 5;
    pBack->size = fw.size;
    EXPECT_EQ(ZANLOAD_NO_ERROR, zanload_read(&cfg, pBack, nullptr));
    EXPECT_EQ(0, memcmp(fw.image, pBack->image, (size_t)fw.size));
    delete pBack;

    ASSERT_EQ(ZANLOAD_NO_ERROR, zanload_commit(&cfg, &fw, nullptr));
    ASSERT_EQ(0, zanload_get_config(&cfg, nullptr));
    EXPECT_EQ(5, cfg.cur_app_bank);
    EXPECT_EQ(450, cfg.cur_app_version);

    // Flash only clears bits: writing other data over it without an erase cannot verify.
    for (int i = 0; i < fw.size; i++)
        fw.image[i] = (unsigned char)~fw.image[i];
    EXPECT_EQ(ZANLOAD_VERIFY_ERROR, zanload_write_and_verify(&cfg, &fw, nullptr));
    // A board that does not switch over.
    ASSERT_TRUE(SimFireWireBus().SetCommitFails(5150, TRUE));
    fw.to_bank = 4;
    EXPECT_EQ(ZANLOAD_COMMIT_FAILED, zanload_commit(&cfg, &fw, nullptr));
    // Boot images need no commit.
    fw.type = 'B';
    EXPECT_EQ(ZANLOAD_NO_ERROR, zanload_commit(&cfg, &fw, nullptr));
}

TEST_F(FirmwareBoardTest, ImageSizesAndProtectedBanks)
{
    OneBoard(77);
    zanload_boot_config cfg;
    zanload_firmware& fw = *m_pFirmware;
    fw.to_bank = 3;
    fw.size = ZANLOAD_IMAGE_SIZE + 1;
    EXPECT_EQ(ZANLOAD_FILE_TOO_BIG, zanload_write_and_verify(&cfg, &fw, nullptr));
    fw.size = ZANLOAD_IMAGE_SIZE;
    memset(fw.image, 0xA5, sizeof(fw.image));
    ASSERT_EQ(0, zanload_erase(&cfg, &fw, nullptr));
    EXPECT_EQ(ZANLOAD_NO_ERROR, zanload_write_and_verify(&cfg, &fw, nullptr));

    // The boot bank takes writes only while extra writes are enabled.
    fw.to_bank = 15;
    fw.size = 16;
    ASSERT_EQ(0, zanload_erase(&cfg, &fw, nullptr));
    EXPECT_EQ(ZANLOAD_WRITE_ERROR, zanload_write_and_verify(&cfg, &fw, nullptr));
    ASSERT_EQ(0, zanload_enable_extra_flash_writes(1, nullptr));
    EXPECT_EQ(ZANLOAD_NO_ERROR, zanload_write_and_verify(&cfg, &fw, nullptr));
    ASSERT_EQ(0, zanload_jump_to_bank(4, nullptr));
    SIM_1394_BOARD_STATE st;
    ASSERT_TRUE(SimFireWireBus().GetBoardState(77, &st));
    EXPECT_EQ(4, st.nJumpBank);
    EXPECT_TRUE(st.bExtraWrites);
}

TEST_F(FirmwareBoardTest, StoredSerialNumberIsTheBoardsAfterAReset)
{
    OneBoard(1000);
    zanload_boot_config cfg;
    ASSERT_EQ(0, zanload_get_config(&cfg, nullptr));
    ASSERT_EQ(ZANLOAD_NO_ERROR, zanload_store_serial_number(&cfg, 4242, nullptr));
    uint8_t aucExpected[128];
    ASSERT_EQ(84, zanload_make_config_rom(4242, aucExpected, sizeof(aucExpected)));
    uint8_t aucBank[84];
    ASSERT_TRUE(SimFireWireBus().ReadFlash(1000, 6, 0, aucBank, sizeof(aucBank)));
    EXPECT_EQ(0, memcmp(aucExpected, aucBank, sizeof(aucBank)));
    // The board answers with its new number once it has reloaded its ROM.
    SimFireWireBus().BusReset(0);
    ASSERT_EQ(0, zanload_get_config(&cfg, nullptr));
    EXPECT_EQ(4242, cfg.serial_number);
    EXPECT_EQ(0, fw_find_zanter(4242, nullptr));
    // Writes that fail show as an erase failure.
    SimFailRequest("raw1394_write", -1);
    EXPECT_EQ(ZANLOAD_ERASE_ERROR, zanload_store_serial_number(&cfg, 4243, nullptr));
    SimFailRequest("raw1394_write", 0);
}

}  // namespace
