/* The FireWire interface board's firmware library: node search on the FireWire bus, board
 * access, flash programming (erase, write and verify, read back, commit, jump to a bank,
 * extra flash writes), the configuration ROM image and the storage of the board's serial
 * number. Meant for firmware update tools; the device library itself uses only the node
 * search.
 *
 * The loader operations address the board found by the last successful node search
 * (fw_find_zanter, fw_find_zanter_port or fw_find_zanter_index) through the library's own
 * handle, which fw_init opens. Their `handle` argument may instead name a libraw1394 handle of the caller; null
 * means the library's own. Nothing here is thread-safe: use it from one thread at a time.
 * Compiles as C99. */
/** @file
 * @brief The FireWire firmware library: node search, board access, flash programming,
 *        configuration ROM and serial number.
 *
 * A loader calls fw_init(), finds its board with fw_find_zanter() (or fw_find_zanter_port()
 * or fw_search_for_1394_device()), reads zanload_get_config(), and then erases, writes and
 * verifies, and commits a bank. The loader operations address the board of the last
 * successful search. Board addresses are 48-bit node offsets: a high part (bits 32 to 47)
 * and a low 32-bit part. All state is process-wide and unguarded.
 * @ingroup firmware */
#ifndef KINETOR_FIRMWARE_H
#define KINETOR_FIRMWARE_H

#include <stdint.h>

#include "KinetorTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Size of one flash bank and so of the largest image, bytes. @ingroup firmware */
#define ZANLOAD_IMAGE_SIZE 65536
/** Size of zanload_firmware::type_name, bytes with the terminating zero. @ingroup firmware */
#define ZANLOAD_TYPE_NAME_SIZE 32

/** @name Flash banks of the board
 * @{ */
/** Programmable-logic image bank 0. @ingroup firmware */
#define ZANLOAD_BANK_PLD_CURRENT 0
/** Programmable-logic image bank 1. @ingroup firmware */
#define ZANLOAD_BANK_PLD_ALTERNATE 1
/** Test image. @ingroup firmware */
#define ZANLOAD_BANK_TEST 3
/** Application image bank 4. @ingroup firmware */
#define ZANLOAD_BANK_APP_CURRENT 4
/** Application image bank 5. @ingroup firmware */
#define ZANLOAD_BANK_APP_ALTERNATE 5
/** The configuration ROM, which carries the serial number. @ingroup firmware */
#define ZANLOAD_BANK_GUID 6
/** Boot image. @ingroup firmware */
#define ZANLOAD_BANK_BOOT 15
/** @} */

/** The board's boot configuration and the versions of its flash banks, as
 * zanload_get_config() reads them. Which of the banks 0 and 1 (4 and 5) is current follows
 * the boot configuration byte, whatever the names ZANLOAD_BANK_..._CURRENT say.
 * @ingroup firmware */
typedef struct zanload_boot_config {
    int config;           /**< the boot configuration byte: 0x02 logic runs from bank 1, 0x04 application from bank 5 */
    int running_in_ram;   /**< 1 when the board runs from RAM (or does not say), else 0 */
    int boot_bank;        /**< bank of the boot image, 15 */
    int boot_version;     /**< version of the boot image; 0 when unreadable */
    int cur_pld_version;  /**< version of the programmable-logic image that runs */
    int cur_pld_bank;     /**< bank of the programmable-logic image that runs, 0 or 1 */
    int alt_pld_version;  /**< version of the other programmable-logic image */
    int alt_pld_bank;     /**< bank of the other programmable-logic image */
    int cur_app_version;  /**< version of the application image that runs */
    int cur_app_bank;     /**< bank of the application image that runs, 4 or 5 */
    int alt_app_version;  /**< version of the other application image */
    int alt_app_bank;     /**< bank of the other application image */
    int test_version;     /**< version of the test image in bank 3 */
    int serial_number;    /**< the serial number in the live configuration ROM; 0 when unreadable */
} zanload_boot_config;

/** One flash image and the bank it goes to (or comes from).
 * @ingroup firmware */
typedef struct zanload_firmware {
    int type;             /**< image type; 'B' and 'T' mark images that need no commit */
    int outdated;         /**< for the caller; the library does not use it */
    char type_name[ZANLOAD_TYPE_NAME_SIZE]; /**< name of the image type, zero-terminated */
    int version;          /**< version of the image */
    int to_bank;          /**< the flash bank, 0 to 15 */
    int size;             /**< bytes of image in use, 0 to ZANLOAD_IMAGE_SIZE */
    unsigned char image[ZANLOAD_IMAGE_SIZE]; /**< the image bytes */
} zanload_firmware;

/** Results of the flash operations; zanload_errstr() gives a text for each. Codes 1 to 5
 * belong to reading firmware files, which this library does not provide.
 * @ingroup firmware */
typedef enum zanload_errcode {
    ZANLOAD_NO_ERROR = 0,                 /**< success */
    ZANLOAD_CANT_OPEN_FILE = 1,           /**< the firmware file cannot be opened */
    ZANLOAD_FILE_TOO_SHORT = 2,           /**< the firmware file is too short */
    ZANLOAD_BAD_FILE_SIZE = 3,            /**< the firmware file has an invalid size */
    ZANLOAD_CHECKSUM_ERROR = 4,           /**< the firmware file's checksum is wrong */
    ZANLOAD_UNKNOWN_FIRMWARE_TYPE = 5,    /**< the firmware type is not recognised */
    ZANLOAD_FILE_TOO_BIG = 6,             /**< the image is larger than a bank (or its size negative) */
    ZANLOAD_WRITE_ERROR = 7,              /**< writing the flash did not complete */
    ZANLOAD_READ_CHECK_ERROR = 8,         /**< reading the flash back did not complete */
    ZANLOAD_VERIFY_ERROR = 9,             /**< the flash read back differs from the image */
    ZANLOAD_INTERNAL_REGISTER_ERROR = 10, /**< the board did not accept the commit command */
    ZANLOAD_COMMIT_TIMEOUT = 11,          /**< the board did not answer after the commit */
    ZANLOAD_COMMIT_FAILED = 12,           /**< the board did not switch to the committed bank */
    ZANLOAD_CONFIG_ROM_ERROR = 13,        /**< the configuration ROM image could not be built */
    ZANLOAD_ERASE_ERROR = 14              /**< erasing the flash failed */
} zanload_errcode;

/* ---- access layer ---- */
/** Opens the library's own handle on port 0, once per process.
 * @return 0 (also when already open); -1 when no handle could be made or port 0 not set,
 *         with a message on standard error.
 * @thread One thread at a time (the library's state is unguarded).
 * @ingroup firmware */
KINETOR_EXPORT int fw_init(void);
/** Does nothing: the library's handle stays open until the process ends.
 * @return 0.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int fw_close(void);
/** Reads length bytes from a node of the local bus through the library's own handle, with
 * up to four attempts, as a busy board may drop a request now and then.
 * @param node node number on the local bus, 0 to 63
 * @param address 48-bit offset in the node's address space, bytes
 * @param buffer receives length bytes; never null
 * @param length bytes to read, above 0
 * @return 0; -1 after four failed attempts, without fw_init(), for a null buffer or a
 *         length of 0 or less.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int fw_read_full(int node, uint64_t address, void* buffer, int length);
/** Writes length bytes to a node of the local bus through the library's own handle, with
 * up to four attempts.
 * @param node node number on the local bus, 0 to 63
 * @param address 48-bit offset in the node's address space, bytes
 * @param buffer the length bytes to write; never null
 * @param length bytes to write, above 0
 * @return 0; -1 after four failed attempts, without fw_init(), for a null buffer or a
 *         length of 0 or less.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int fw_write_full(int node, uint64_t address, const void* buffer, int length);
/** Reads one byte of the board found by the last node search.
 * @param high bits 32 to 47 of the board address
 * @param low bits 0 to 31 of the board address
 * @param handle a libraw1394 handle of the caller, or null for the library's own
 * @return the byte, 0 to 255; -1 when it cannot be read.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int fw_read_byte(unsigned int high, unsigned int low, void* handle);
/** Reads n bytes of the board found by the last node search, at (high << 32) | low.
 * @param high bits 32 to 47 of the board address
 * @param low bits 0 to 31 of the board address
 * @param buffer receives n bytes; never null
 * @param n bytes to read, above 0
 * @param handle a libraw1394 handle of the caller, or null for the library's own
 * @return n; -1 when they cannot be read, for a null buffer or an n of 0 or less.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int fw_read(unsigned int high, unsigned int low, void* buffer, int n, void* handle);
/** Writes n bytes to the board found by the last node search, at (high << 32) | low.
 * @param high bits 32 to 47 of the board address
 * @param low bits 0 to 31 of the board address
 * @param buffer the n bytes to write; never null
 * @param n bytes to write, above 0
 * @param handle a libraw1394 handle of the caller, or null for the library's own
 * @return n; -1 when they cannot be written, for a null buffer or an n of 0 or less.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int fw_write(unsigned int high, unsigned int low, const void* buffer, int n, void* handle);
/** Queues an isochronous packet on the library's own handle (tag 0, sy 0); the caller
 * sets up isochronous transmission on that handle first.
 * @param channel not used: the channel is the one transmission was set up for
 * @param buffer the packet; never null
 * @param n bytes of packet, 0 or more
 * @return the result of the transmission call (0 when queued); -1 without fw_init(), for
 *         a null buffer or a negative n.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int fw_write_iso(int channel, const void* buffer, int n);
/** Counts the host's FireWire ports through a temporary handle. When no handle can be made
 * (no host adapter, or no permission on its device node), says so once per process on
 * standard error.
 * @return the number of ports; 0 when there is no FireWire host.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int fw_get_num_ports(void);
/** Does nothing: a board needs no release.
 * @param node not used
 * @param handle not used
 * @return 0.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int fw_release_zanter(int node, void* handle);

/* ---- node search ---- */
/** Searches every port and node for the board with this serial number; on a match the
 * loader operations address that board from then on, and an open library handle moves to
 * its port. Each port is scanned through a handle of its own, closed afterwards. Nodes that
 * do not answer, or are no such board, count as no match.
 * @param serial the board's serial number
 * @param handle not used
 * @return 0 when the board is attached on any port; -1 when not.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int fw_find_zanter(int serial, void* handle);
/** The same search as fw_find_zanter(), which also tells the port.
 * @param serial the board's serial number
 * @param pPort receives the port index on a match (left alone otherwise); may be null
 * @return 0 when the board is attached; -1 when not.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int fw_find_zanter_port(int serial, int* pPort);
/** Finds the first board in port, then node order, whatever its serial number; the loader
 * operations address that board from then on.
 * @param pSerial receives its serial number (left alone when none is found); may be null
 * @return 0 when a board was found; -1 for none.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int fw_search_for_1394_device(int* pSerial);
/** Every board in turn: finds the index-th board in port, then node order. The loader
 * operations address that board from then on, so a tool can list each board with
 * zanload_get_config().
 * @param index which board, counting from 0; a negative index finds none
 * @param pSerial receives its serial number (left alone when none is found); may be null
 * @param pPort receives its port index (left alone when none is found); may be null
 * @return 0 when that board exists; -1 when there are no more.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int fw_find_zanter_index(int index, int* pSerial, int* pPort);

/* ---- board configuration and flash ---- */
/** Reads the board's boot configuration, the versions of its banks, whether it runs from
 * RAM and the serial number of its live configuration ROM. Values the board does not give
 * read as 0 (running_in_ram as 1).
 * @param pConfig receives the configuration; never null
 * @param handle a libraw1394 handle of the caller, or null for the library's own
 * @return 0; -1 for a null pConfig.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int zanload_get_config(zanload_boot_config* pConfig, void* handle);
/** Erases the bank pFirmware->to_bank: the block at its start, and for banks 7 and 15 also
 * the blocks at 0x8000, 0xA000 and 0xC000. Waits up to 2 s for each block.
 * @param pConfig not used; may be null
 * @param pFirmware names the bank; never null
 * @param handle a libraw1394 handle of the caller, or null for the library's own
 * @return 0; -1 for a null pFirmware, a bank outside 0 to 15, or any block the board did
 *         not report erased (an error, no answer, or still busy after the wait).
 * @thread One thread at a time; blocks for up to 2 s per block.
 * @ingroup firmware */
KINETOR_EXPORT int zanload_erase(zanload_boot_config* pConfig, zanload_firmware* pFirmware, void* handle);
/** Writes the first pFirmware->size bytes of the image to the start of bank
 * pFirmware->to_bank, reads them back and compares. Erase the bank first.
 * @param pConfig not used; may be null
 * @param pFirmware the image, its size in bytes and the bank; never null
 * @param handle a libraw1394 handle of the caller, or null for the library's own
 * @return a zanload_errcode: ZANLOAD_NO_ERROR; ZANLOAD_FILE_TOO_BIG for a size above
 *         ZANLOAD_IMAGE_SIZE or below 0; ZANLOAD_WRITE_ERROR for a write that did not
 *         complete, a bank outside 0 to 15 or a null pFirmware; ZANLOAD_READ_CHECK_ERROR for
 *         a read-back that did not complete; ZANLOAD_VERIFY_ERROR when the flash differs.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int zanload_write_and_verify(zanload_boot_config* pConfig, zanload_firmware* pFirmware,
                                            void* handle);
/** Reads pFirmware->size bytes from the start of bank pFirmware->to_bank into the image.
 * @param pConfig not used; may be null
 * @param pFirmware the bank and the size in bytes, 0 to ZANLOAD_IMAGE_SIZE; receives the
 *        image; never null
 * @param handle a libraw1394 handle of the caller, or null for the library's own
 * @return ZANLOAD_NO_ERROR; ZANLOAD_READ_CHECK_ERROR for a read that did not complete, a
 *         null pFirmware, a size out of range or a bank outside 0 to 15.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int zanload_read(zanload_boot_config* pConfig, zanload_firmware* pFirmware, void* handle);
/** Makes the board boot from bank pFirmware->to_bank and waits up to 3 s for it to answer
 * again. Images of type 'B' and 'T' need no commit and return at once.
 * @param pConfig not used; may be null
 * @param pFirmware the image type and the bank; never null
 * @param handle a libraw1394 handle of the caller, or null for the library's own
 * @return a zanload_errcode: ZANLOAD_NO_ERROR; ZANLOAD_INTERNAL_REGISTER_ERROR when the
 *         board did not take the command (or for a null pFirmware); ZANLOAD_COMMIT_TIMEOUT
 *         when it did not answer afterwards; ZANLOAD_COMMIT_FAILED when it does not now
 *         run the bank (checked for banks 0, 1, 4 and 5).
 * @thread One thread at a time; blocks for up to 3 s.
 * @ingroup firmware */
KINETOR_EXPORT int zanload_commit(zanload_boot_config* pConfig, zanload_firmware* pFirmware, void* handle);
/** Tells the board to jump to a bank.
 * @param bank the flash bank, 0 to 15
 * @param handle a libraw1394 handle of the caller, or null for the library's own
 * @return 0 when the board took the command; -1 when not.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int zanload_jump_to_bank(int bank, void* handle);
/** Enables or disables the board's extra flash writes.
 * @param enable non-zero enables, 0 disables
 * @param handle a libraw1394 handle of the caller, or null for the library's own
 * @return 0 when the board took the command; -1 when not.
 * @thread One thread at a time.
 * @ingroup firmware */
KINETOR_EXPORT int zanload_enable_extra_flash_writes(int enable, void* handle);
/** Reading firmware files is not provided.
 * @param pConfig not used
 * @param pFirmware not used, left unchanged
 * @param filename not used
 * @return -1.
 * @thread Any thread.
 * @ingroup firmware */
KINETOR_EXPORT int zanload_read_firmware(zanload_boot_config* pConfig, zanload_firmware* pFirmware,
                                         const char* filename);
/** The text of a result code.
 * @param code a zanload_errcode, or any other value
 * @return a constant text for every code, and one for unknown codes; never null.
 * @thread Any thread.
 * @ingroup firmware */
KINETOR_EXPORT const char* zanload_errstr(int code);

/* ---- configuration ROM and serial number ---- */
/** Builds the configuration ROM image of a board with this serial number (the low half of
 * its GUID), big-endian, with its CRC-16 values. The image is 84 bytes.
 * @param serial the serial number
 * @param buffer receives the image; never null
 * @param size bytes of buffer; must exceed the image length, so at least 85
 * @return the image length in bytes; -1 for a null buffer or a size that is not larger
 *         than the image.
 * @thread One thread at a time (the image is built in process-wide storage).
 * @ingroup firmware */
KINETOR_EXPORT int zanload_make_config_rom(int serial, void* buffer, int size);
/** Stores a serial number on the board: builds its configuration ROM, erases the GUID bank
 * (ZANLOAD_BANK_GUID) and writes and verifies the image there.
 * @param pConfig not used; may be null
 * @param serial the new serial number
 * @param handle a libraw1394 handle of the caller, or null for the library's own
 * @return a zanload_errcode: ZANLOAD_NO_ERROR; ZANLOAD_CONFIG_ROM_ERROR when the image could
 *         not be built (or no memory); ZANLOAD_ERASE_ERROR when the erase failed; else the
 *         result of zanload_write_and_verify().
 * @thread One thread at a time; waits up to 2 s for the erase.
 * @ingroup firmware */
KINETOR_EXPORT int zanload_store_serial_number(zanload_boot_config* pConfig, int serial, void* handle);

#ifdef __cplusplus
}
#endif

#endif
