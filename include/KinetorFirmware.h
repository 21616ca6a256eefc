/* The FireWire interface board's firmware library: node search on the FireWire bus, board
 * access, flash programming (erase, write and verify, read back, commit, jump to a bank,
 * extra flash writes), the configuration ROM image and the storage of the board's serial
 * number. Meant for firmware update tools; the device library itself uses only the node
 * search.
 *
 * The loader operations address the board found by the last successful node search
 * (fw_find_zanter, fw_find_zanter_port or fw_find_zanter_index) through the library's own handle, which fw_init
 * opens. Their `handle` argument may instead name a libraw1394 handle of the caller; null
 * means the library's own. Nothing here is thread-safe: use it from one thread at a time.
 * Compiles as C99. */
#ifndef KINETOR_FIRMWARE_H
#define KINETOR_FIRMWARE_H

#include <stdint.h>

#include "KinetorTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Size of one flash bank and so of the largest image. */
#define ZANLOAD_IMAGE_SIZE 65536
#define ZANLOAD_TYPE_NAME_SIZE 32

/* Flash banks of the board. */
#define ZANLOAD_BANK_PLD_CURRENT 0
#define ZANLOAD_BANK_PLD_ALTERNATE 1
#define ZANLOAD_BANK_TEST 3
#define ZANLOAD_BANK_APP_CURRENT 4
#define ZANLOAD_BANK_APP_ALTERNATE 5
#define ZANLOAD_BANK_GUID 6
#define ZANLOAD_BANK_BOOT 15

typedef struct zanload_boot_config {
    int config;           /* the boot configuration byte */
    int running_in_ram;
    int boot_bank;
    int boot_version;
    int cur_pld_version;
    int cur_pld_bank;
    int alt_pld_version;
    int alt_pld_bank;
    int cur_app_version;
    int cur_app_bank;
    int alt_app_version;
    int alt_app_bank;
    int test_version;
    int serial_number;
} zanload_boot_config;

typedef struct zanload_firmware {
    int type;             /* 'B' and 'T' mark images that need no commit */
    int outdated;
    char type_name[ZANLOAD_TYPE_NAME_SIZE];
    int version;
    int to_bank;
    int size;             /* bytes of image in use */
    unsigned char image[ZANLOAD_IMAGE_SIZE];
} zanload_firmware;

typedef enum zanload_errcode {
    ZANLOAD_NO_ERROR = 0,
    ZANLOAD_CANT_OPEN_FILE = 1,
    ZANLOAD_FILE_TOO_SHORT = 2,
    ZANLOAD_BAD_FILE_SIZE = 3,
    ZANLOAD_CHECKSUM_ERROR = 4,
    ZANLOAD_UNKNOWN_FIRMWARE_TYPE = 5,
    ZANLOAD_FILE_TOO_BIG = 6,
    ZANLOAD_WRITE_ERROR = 7,
    ZANLOAD_READ_CHECK_ERROR = 8,
    ZANLOAD_VERIFY_ERROR = 9,
    ZANLOAD_INTERNAL_REGISTER_ERROR = 10,
    ZANLOAD_COMMIT_TIMEOUT = 11,
    ZANLOAD_COMMIT_FAILED = 12,
    ZANLOAD_CONFIG_ROM_ERROR = 13,
    ZANLOAD_ERASE_ERROR = 14
} zanload_errcode;

/* ---- access layer ---- */
/* Opens the library's handle on port 0, once per process; 0, or -1 with a message. */
KINETOR_EXPORT int fw_init(void);
KINETOR_EXPORT int fw_close(void);
/* Reads or writes length bytes at a node of the local bus, four attempts; 0 or -1. */
KINETOR_EXPORT int fw_read_full(int node, uint64_t address, void* buffer, int length);
KINETOR_EXPORT int fw_write_full(int node, uint64_t address, const void* buffer, int length);
/* One byte of the board at (high << 32) | low; the byte or -1. */
KINETOR_EXPORT int fw_read_byte(unsigned int high, unsigned int low, void* handle);
/* n bytes at (high << 32) | low; n or -1. */
KINETOR_EXPORT int fw_read(unsigned int high, unsigned int low, void* buffer, int n, void* handle);
KINETOR_EXPORT int fw_write(unsigned int high, unsigned int low, const void* buffer, int n, void* handle);
/* Queues an isochronous packet on the library's handle (set up for transmission by the
 * caller); the result of the transmission call. */
KINETOR_EXPORT int fw_write_iso(int channel, const void* buffer, int n);
/* Host FireWire ports; 0 when there is no FireWire host. */
KINETOR_EXPORT int fw_get_num_ports(void);
KINETOR_EXPORT int fw_release_zanter(int node, void* handle);

/* ---- node search ---- */
/* 0 when a board with this serial number is attached on any port, else -1. */
KINETOR_EXPORT int fw_find_zanter(int serial, void* handle);
/* The same; on a match the port index goes to *pPort. */
KINETOR_EXPORT int fw_find_zanter_port(int serial, int* pPort);
/* The serial number of the first board found (port, then node order); 0, or -1 for none. */
KINETOR_EXPORT int fw_search_for_1394_device(int* pSerial);
/* Every board in turn: the serial number of the index-th board found (port, then node
 * order, counting from 0) to *pSerial and its port to *pPort (either may be null); 0, or -1
 * when there are no more. The loader operations address that board from then on, so a
 * tool can list each board with zanload_get_config. */
KINETOR_EXPORT int fw_find_zanter_index(int index, int* pSerial, int* pPort);

/* ---- board configuration and flash ---- */
KINETOR_EXPORT int zanload_get_config(zanload_boot_config* pConfig, void* handle);
KINETOR_EXPORT int zanload_erase(zanload_boot_config* pConfig, zanload_firmware* pFirmware, void* handle);
KINETOR_EXPORT int zanload_write_and_verify(zanload_boot_config* pConfig, zanload_firmware* pFirmware,
                                            void* handle);
KINETOR_EXPORT int zanload_read(zanload_boot_config* pConfig, zanload_firmware* pFirmware, void* handle);
KINETOR_EXPORT int zanload_commit(zanload_boot_config* pConfig, zanload_firmware* pFirmware, void* handle);
KINETOR_EXPORT int zanload_jump_to_bank(int bank, void* handle);
KINETOR_EXPORT int zanload_enable_extra_flash_writes(int enable, void* handle);
/* Reading firmware files is not provided: -1. */
KINETOR_EXPORT int zanload_read_firmware(zanload_boot_config* pConfig, zanload_firmware* pFirmware,
                                         const char* filename);
/* A text for every code (and for unknown ones); never null. */
KINETOR_EXPORT const char* zanload_errstr(int code);

/* ---- configuration ROM and serial number ---- */
/* The configuration ROM image of a board with this serial number, big-endian, into buffer
 * of size bytes; its length in bytes, or -1 when it does not fit. */
KINETOR_EXPORT int zanload_make_config_rom(int serial, void* buffer, int size);
/* Writes a configuration ROM with this serial number into the GUID bank; a zanload_errcode. */
KINETOR_EXPORT int zanload_store_serial_number(zanload_boot_config* pConfig, int serial, void* handle);

#ifdef __cplusplus
}
#endif

#endif
