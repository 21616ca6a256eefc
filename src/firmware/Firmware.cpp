// Access layer, node search and flash programming of the FireWire interface board.
#include "firmware/FirmwareInternal.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <unistd.h>

#include "hal/FireWireBus.h"

namespace {

const nodeid_t kLocalBus = 0xFFC0;
const int kAttempts = 4;
const uint32_t guid_addr = 0x1006000C;
const uint32_t serial_addr = 0x10060010;
// Loader registers (high part 1).
const unsigned int kLoaderHigh = 0x0001;
const uint32_t kBootConfig = 0x1080;
const uint32_t kFlashStatus = 0x1081;
const uint32_t kRunningInRam = 0x1085;
const uint32_t kExtraWrites = 0x1003;
const uint32_t kJump = 0x1007;
const uint32_t kCommit = 0x00020014;
const uint32_t kFlashBase = 0x10000000;
const uint32_t kEraseBase = 0x20000000;
const uint32_t kBankVersion = 0x2E;
// Live configuration ROM: GUID low quadlet.
const unsigned int kRomHigh = 0xFFFF;
const uint32_t kRomSerial = 0xF0000410;

const int kErasePolls = 20;
const int kCommitPolls = 30;
const double kPollDelay = 0.1;

raw1394handle_t fw_handle = nullptr;
int fw_port = -1;
int zanter_node = 0;
double g_dDelayScale = 1.0;
bool g_bNoHostReported = false;

CFireWireBus* Bus()
{
    return GetFireWireBus();
}

raw1394handle_t HandleOf(void* handle)
{
    return handle ? static_cast<raw1394handle_t>(handle) : fw_handle;
}

uint64_t Address(unsigned int high, uint32_t low)
{
    return ((uint64_t)(high & 0xFFFF) << 32) | low;
}

// Four attempts, as a busy board may drop a request now and then.
int ReadFull(raw1394handle_t h, int node, uint64_t address, void* buffer, size_t length)
{
    if (!h || !buffer || length == 0)
        return -1;
    for (int i = 0; i < kAttempts; i++) {
        if (Bus()->Read(h, (nodeid_t)((node & 0x3F) | kLocalBus), address, length,
                        static_cast<quadlet_t*>(buffer)) >= 0)
            return 0;
    }
    return -1;
}

int WriteFull(raw1394handle_t h, int node, uint64_t address, const void* buffer, size_t length)
{
    if (!h || !buffer || length == 0)
        return -1;
    for (int i = 0; i < kAttempts; i++) {
        if (Bus()->Write(h, (nodeid_t)((node & 0x3F) | kLocalBus), address, length,
                         static_cast<quadlet_t*>(const_cast<void*>(buffer))) >= 0)
            return 0;
    }
    return -1;
}

uint32_t FromBig(const unsigned char* p)
{
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

// Scans every port and node. With bAny the board found after passing over nSkip others
// matches; else the one with the serial number. The loader operations address the board
// found from then on.
int Search(bool bAny, uint32_t nSerial, int nSkip, int* pPort, uint32_t* pFound)
{
    int nPorts = fw_get_num_ports();
    for (int nPort = 0; nPort < nPorts; nPort++) {
        raw1394handle_t h = Bus()->NewHandleOnPort(nPort);
        if (!h)
            continue;
        int nNodes = Bus()->GetNodeCount(h);
        for (int nNode = 0; nNode < nNodes; nNode++) {
            unsigned char auc[4];
            if (ReadFull(h, nNode, guid_addr, auc, 4) != 0 || FromBig(auc) != ZANTER_GUID_HI)
                continue;
            if (ReadFull(h, nNode, serial_addr, auc, 4) != 0)
                continue;
            uint32_t nBoardSerial = FromBig(auc);
            if (!bAny && nBoardSerial != nSerial)
                continue;
            if (bAny && nSkip-- > 0)
                continue;
            Bus()->DestroyHandle(h);
            zanter_node = nNode;
            // The library's own handle follows the board to its port; the search handle
            // is gone and must not stay behind anywhere.
            if (fw_handle && fw_port != nPort) {
                raw1394handle_t hNew = Bus()->NewHandleOnPort(nPort);
                if (hNew) {
                    Bus()->DestroyHandle(fw_handle);
                    fw_handle = hNew;
                    fw_port = nPort;
                }
            }
            if (pPort)
                *pPort = nPort;
            if (pFound)
                *pFound = nBoardSerial;
            return 0;
        }
        Bus()->DestroyHandle(h);
    }
    return -1;
}

int LoaderWrite(uint32_t low, const unsigned char* p, int n, void* handle)
{
    return fw_write(kLoaderHigh, low, p, n, handle) == n ? 0 : -1;
}

}  // namespace

double get_time(void)
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return (double)tv.tv_sec + (double)tv.tv_usec * 1e-6;
}

void delay(double seconds)
{
    double d = seconds * g_dDelayScale;
    if (d > 0.0)
        usleep((useconds_t)(d * 1e6));
}

void fw_set_delay_scale(double scale)
{
    g_dDelayScale = scale;
}

int fw_get_zanter_node(void)
{
    return zanter_node;
}

void fw_reset_state(void)
{
    if (fw_handle)
        Bus()->DestroyHandle(fw_handle);
    fw_handle = nullptr;
    fw_port = -1;
    zanter_node = 0;
}

extern "C" {

int fw_init(void)
{
    if (fw_handle)
        return 0;
    raw1394handle_t h = Bus()->NewHandle();
    if (!h) {
        perror("can't get firewire handle");
        return -1;
    }
    if (Bus()->SetPort(h, 0) < 0) {
        perror("fw set port");
        Bus()->DestroyHandle(h);
        return -1;
    }
    fw_handle = h;
    fw_port = 0;
    return 0;
}

int fw_close(void)
{
    return 0;
}

int fw_read_full(int node, uint64_t address, void* buffer, int length)
{
    if (length <= 0)
        return -1;
    return ReadFull(fw_handle, node, address, buffer, (size_t)length);
}

int fw_write_full(int node, uint64_t address, const void* buffer, int length)
{
    if (length <= 0)
        return -1;
    return WriteFull(fw_handle, node, address, buffer, (size_t)length);
}

int fw_read_byte(unsigned int high, unsigned int low, void* handle)
{
    unsigned char uc = 0;
    if (ReadFull(HandleOf(handle), zanter_node, Address(high, low), &uc, 1) != 0)
        return -1;
    return uc;
}

int fw_read(unsigned int high, unsigned int low, void* buffer, int n, void* handle)
{
    if (n <= 0 || ReadFull(HandleOf(handle), zanter_node, Address(high, low), buffer, (size_t)n) != 0)
        return -1;
    return n;
}

int fw_write(unsigned int high, unsigned int low, const void* buffer, int n, void* handle)
{
    if (n <= 0 || WriteFull(HandleOf(handle), zanter_node, Address(high, low), buffer, (size_t)n) != 0)
        return -1;
    return n;
}

int fw_write_iso(int channel, const void* buffer, int n)
{
    (void)channel;
    if (!fw_handle || !buffer || n < 0)
        return -1;
    return Bus()->IsoXmitWrite(fw_handle, static_cast<unsigned char*>(const_cast<void*>(buffer)), (unsigned int)n,
                               0, 0);
}

int fw_get_num_ports(void)
{
    raw1394handle_t h = Bus()->NewHandle();
    if (!h) {
        // Said once: the configuration store asks often, and the answer stays the same.
        if (!g_bNoHostReported) {
            g_bNoHostReported = true;
            fprintf(stderr, "KDD: no FireWire access (%s): no FireWire host adapter, or no permission on its "
                            "device node\n", strerror(errno));
        }
        return 0;
    }
    int n = Bus()->GetPortInfo(h, nullptr, 0);
    Bus()->DestroyHandle(h);
    return n < 0 ? 0 : n;
}

int fw_release_zanter(int node, void* handle)
{
    (void)node;
    (void)handle;
    return 0;
}

int fw_find_zanter(int serial, void* handle)
{
    (void)handle;
    return Search(false, (uint32_t)serial, 0, nullptr, nullptr);
}

int fw_find_zanter_port(int serial, int* pPort)
{
    return Search(false, (uint32_t)serial, 0, pPort, nullptr);
}

int fw_search_for_1394_device(int* pSerial)
{
    uint32_t nFound = 0;
    if (Search(true, 0, 0, nullptr, &nFound) != 0)
        return -1;
    if (pSerial)
        *pSerial = (int)nFound;
    return 0;
}

int fw_find_zanter_index(int index, int* pSerial, int* pPort)
{
    uint32_t nFound = 0;
    if (index < 0 || Search(true, 0, index, pPort, &nFound) != 0)
        return -1;
    if (pSerial)
        *pSerial = (int)nFound;
    return 0;
}

}  // extern "C"

int get_bank_version(int bank, void* handle)
{
    uint32_t low = kFlashBase + ((uint32_t)bank << 16) + kBankVersion;
    int nHigh = fw_read_byte(kLoaderHigh, low, handle);
    int nLow = fw_read_byte(kLoaderHigh, low + 1, handle);
    if (nHigh < 0 || nLow < 0)
        return 0;
    return nHigh * 256 + nLow;
}

int erase_block(uint32_t address, void* handle)
{
    UCHAR ucBank = (UCHAR)((address >> 16) & 0x0F);
    UCHAR ucLow = (UCHAR)(address & 0xFF);
    UCHAR ucHigh = (UCHAR)((address >> 8) & 0xFF);
    const unsigned char aucUnlock[4] = {'x', 'V', '4', 0x12};
    const unsigned char aucCommand[4] = {ucLow, ucHigh, ucBank, (unsigned char)(ucBank ^ ucLow ^ ucHigh ^ 0x55)};
    if (LoaderWrite(kEraseBase | address, aucUnlock, 4, handle) != 0 ||
        LoaderWrite(kEraseBase | address, aucCommand, 4, handle) != 0)
        return -1;
    for (int i = 0; i < kErasePolls; i++) {
        delay(kPollDelay);
        int nStatus = fw_read_byte(kLoaderHigh, kFlashStatus, handle);
        if (nStatus == 1)
            return 0;
        if (nStatus >= 0 && nStatus != 255)
            return -1;
    }
    // A block still busy after all the polls (or a board that stopped answering) has not
    // been seen erased: the caller must not go on as if it were.
    return -1;
}

int flash_write(int bank, const unsigned char* data, int n, void* handle)
{
    if (!data || n < 0 || bank < 0 || bank > 15)
        return -1;
    uint32_t base = kFlashBase + ((uint32_t)bank << 16);
    for (int i = 0; i < n; i += 4) {
        int nPiece = (n - i) < 4 ? (n - i) : 4;
        if (fw_write(kLoaderHigh, base + (uint32_t)i, data + i, nPiece, handle) != nPiece)
            return -1;
    }
    return n;
}

int flash_read(int bank, unsigned char* buffer, int n, void* handle)
{
    if (!buffer || n < 0 || bank < 0 || bank > 15)
        return -1;
    uint32_t base = kFlashBase + ((uint32_t)bank << 16);
    for (int i = 0; i < n; i += 64) {
        int nPiece = (n - i) < 64 ? (n - i) : 64;
        if (fw_read(kLoaderHigh, base + (uint32_t)i, buffer + i, nPiece, handle) != nPiece)
            return -1;
    }
    return n;
}

extern "C" {

int zanload_get_config(zanload_boot_config* pConfig, void* handle)
{
    if (!pConfig)
        return -1;
    memset(pConfig, 0, sizeof(*pConfig));
    int nConfig = fw_read_byte(kLoaderHigh, kBootConfig, handle);
    pConfig->config = (nConfig < 0 || (nConfig & ~0x07)) ? 0 : nConfig;
    pConfig->cur_pld_bank = (pConfig->config & 0x02) ? 1 : 0;
    pConfig->alt_pld_bank = (pConfig->config & 0x02) ? 0 : 1;
    pConfig->cur_app_bank = (pConfig->config & 0x04) ? 5 : 4;
    pConfig->alt_app_bank = (pConfig->config & 0x04) ? 4 : 5;
    pConfig->boot_bank = ZANLOAD_BANK_BOOT;
    pConfig->boot_version = get_bank_version(pConfig->boot_bank, handle);
    pConfig->cur_pld_version = get_bank_version(pConfig->cur_pld_bank, handle);
    pConfig->alt_pld_version = get_bank_version(pConfig->alt_pld_bank, handle);
    pConfig->cur_app_version = get_bank_version(pConfig->cur_app_bank, handle);
    pConfig->alt_app_version = get_bank_version(pConfig->alt_app_bank, handle);
    pConfig->test_version = get_bank_version(ZANLOAD_BANK_TEST, handle);
    int nRam = fw_read_byte(kLoaderHigh, kRunningInRam, handle);
    pConfig->running_in_ram = (nRam == 1 || nRam < 0) ? 1 : 0;
    uint32_t nSerial = 0;
    bool bSerial = true;
    for (int i = 0; i < 4; i++) {
        int nByte = fw_read_byte(kRomHigh, kRomSerial + (uint32_t)i, handle);
        if (nByte < 0)
            bSerial = false;
        nSerial = (nSerial << 8) | (uint32_t)(nByte & 0xFF);
    }
    pConfig->serial_number = bSerial ? (int)nSerial : 0;
    return 0;
}

int zanload_erase(zanload_boot_config* pConfig, zanload_firmware* pFirmware, void* handle)
{
    (void)pConfig;
    if (!pFirmware || pFirmware->to_bank < 0 || pFirmware->to_bank > 15)
        return -1;
    uint32_t bank = (uint32_t)pFirmware->to_bank << 16;
    int nResult = erase_block(bank, handle);
    if (pFirmware->to_bank == 7 || pFirmware->to_bank == 15) {
        const uint32_t aExtra[3] = {0x8000, 0xA000, 0xC000};
        for (uint32_t nOffset : aExtra) {
            if (erase_block(bank | nOffset, handle) != 0)
                nResult = -1;
        }
    }
    return nResult == 0 ? 0 : -1;
}

int zanload_write_and_verify(zanload_boot_config* pConfig, zanload_firmware* pFirmware, void* handle)
{
    (void)pConfig;
    if (!pFirmware)
        return ZANLOAD_WRITE_ERROR;
    if (pFirmware->size > ZANLOAD_IMAGE_SIZE || pFirmware->size < 0)
        return ZANLOAD_FILE_TOO_BIG;
    int nSize = pFirmware->size;
    if (flash_write(pFirmware->to_bank, pFirmware->image, nSize, handle) != nSize)
        return ZANLOAD_WRITE_ERROR;
    unsigned char* pBack = static_cast<unsigned char*>(malloc(ZANLOAD_IMAGE_SIZE));
    if (!pBack)
        return ZANLOAD_READ_CHECK_ERROR;
    int nResult = ZANLOAD_NO_ERROR;
    if (flash_read(pFirmware->to_bank, pBack, nSize, handle) != nSize)
        nResult = ZANLOAD_READ_CHECK_ERROR;
    else if (memcmp(pBack, pFirmware->image, (size_t)nSize) != 0)
        nResult = ZANLOAD_VERIFY_ERROR;
    free(pBack);
    return nResult;
}

int zanload_read(zanload_boot_config* pConfig, zanload_firmware* pFirmware, void* handle)
{
    (void)pConfig;
    if (!pFirmware || pFirmware->size < 0 || pFirmware->size > ZANLOAD_IMAGE_SIZE)
        return ZANLOAD_READ_CHECK_ERROR;
    if (flash_read(pFirmware->to_bank, pFirmware->image, pFirmware->size, handle) != pFirmware->size)
        return ZANLOAD_READ_CHECK_ERROR;
    return ZANLOAD_NO_ERROR;
}

int zanload_commit(zanload_boot_config* pConfig, zanload_firmware* pFirmware, void* handle)
{
    (void)pConfig;
    if (!pFirmware)
        return ZANLOAD_INTERNAL_REGISTER_ERROR;
    if (pFirmware->type == 'B' || pFirmware->type == 'T')
        return ZANLOAD_NO_ERROR;
    int bank = pFirmware->to_bank;
    const unsigned char aucCommand[4] = {0, 0, (unsigned char)(bank ^ 0x55), (unsigned char)bank};
    if (LoaderWrite(kCommit, aucCommand, 4, handle) != 0)
        return ZANLOAD_INTERNAL_REGISTER_ERROR;
    int nConfig = -1;
    for (int i = 0; i < kCommitPolls && nConfig < 0; i++) {
        delay(kPollDelay);
        nConfig = fw_read_byte(kLoaderHigh, kBootConfig, handle);
    }
    if (nConfig < 0)
        return ZANLOAD_COMMIT_TIMEOUT;
    if ((bank == 0 && (nConfig & 0x02)) || (bank == 1 && !(nConfig & 0x02)) || (bank == 4 && (nConfig & 0x04)) ||
        (bank == 5 && !(nConfig & 0x04)))
        return ZANLOAD_COMMIT_FAILED;
    return ZANLOAD_NO_ERROR;
}

int zanload_jump_to_bank(int bank, void* handle)
{
    const unsigned char uc = (unsigned char)bank;
    return LoaderWrite(kJump, &uc, 1, handle) == 0 ? 0 : -1;
}

int zanload_enable_extra_flash_writes(int enable, void* handle)
{
    const unsigned char uc = enable ? 'E' : 0;
    return LoaderWrite(kExtraWrites, &uc, 1, handle) == 0 ? 0 : -1;
}

int zanload_read_firmware(zanload_boot_config* pConfig, zanload_firmware* pFirmware, const char* filename)
{
    (void)pConfig;
    (void)pFirmware;
    (void)filename;
    return -1;
}

const char* zanload_errstr(int code)
{
    switch (code) {
    case ZANLOAD_NO_ERROR:
        return "no error";
    case ZANLOAD_CANT_OPEN_FILE:
        return "the firmware file cannot be opened";
    case ZANLOAD_FILE_TOO_SHORT:
        return "the firmware file is too short";
    case ZANLOAD_BAD_FILE_SIZE:
        return "the firmware file has an invalid size";
    case ZANLOAD_CHECKSUM_ERROR:
        return "the firmware file's checksum is wrong";
    case ZANLOAD_UNKNOWN_FIRMWARE_TYPE:
        return "the firmware type is not recognised";
    case ZANLOAD_FILE_TOO_BIG:
        return "the image is larger than a flash bank (65536 bytes)";
    case ZANLOAD_WRITE_ERROR:
        return "writing the flash did not complete";
    case ZANLOAD_READ_CHECK_ERROR:
        return "reading the flash back did not complete";
    case ZANLOAD_VERIFY_ERROR:
        return "the flash read back differs from the image";
    case ZANLOAD_INTERNAL_REGISTER_ERROR:
        return "the board did not accept the commit command";
    case ZANLOAD_COMMIT_TIMEOUT:
        return "the board did not answer after the commit";
    case ZANLOAD_COMMIT_FAILED:
        return "the board did not switch to the committed bank";
    case ZANLOAD_CONFIG_ROM_ERROR:
        return "the configuration ROM image could not be built";
    case ZANLOAD_ERASE_ERROR:
        return "erasing the flash failed";
    default:
        return "unknown error code";
    }
}

int zanload_store_serial_number(zanload_boot_config* pConfig, int serial, void* handle)
{
    zanload_firmware* pFirmware = static_cast<zanload_firmware*>(calloc(1, sizeof(zanload_firmware)));
    if (!pFirmware)
        return ZANLOAD_CONFIG_ROM_ERROR;
    snprintf(pFirmware->type_name, sizeof(pFirmware->type_name), "%s", "GUID");
    pFirmware->to_bank = ZANLOAD_BANK_GUID;
    int nResult;
    int nSize = zanload_make_config_rom(serial, pFirmware->image, ZANLOAD_IMAGE_SIZE);
    if (nSize < 0) {
        nResult = ZANLOAD_CONFIG_ROM_ERROR;
    } else {
        pFirmware->size = nSize;
        if (zanload_erase(pConfig, pFirmware, handle) != 0)
            nResult = ZANLOAD_ERASE_ERROR;
        else
            nResult = zanload_write_and_verify(pConfig, pFirmware, handle);
    }
    free(pFirmware);
    return nResult;
}

}  // extern "C"
