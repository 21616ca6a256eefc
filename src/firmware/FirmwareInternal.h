// The firmware library's inner pieces: the configuration ROM builder, the flash primitives
// and the library's process-wide state. Not part of the public interface.
#ifndef KINETOR_FIRMWARE_INTERNAL_H
#define KINETOR_FIRMWARE_INTERNAL_H

#include <stdint.h>

#include "KinetorFirmware.h"

#define CONFIG_ROM_QUADLETS 1000
#define CONFIG_ROM_UNITS 10
#define ZANTER_GUID_HI 0x00A7E500UL
// Version of this library.
#define FWHW_VERSION 184
#define FWHW_VERSION_TEXT "FWHW VERSION 184"

typedef struct config_rom_unit {
    uint32_t* start;    // the unit's header quadlet
    uint32_t* refer;    // the directory entry that points at this unit
    int length;         // quadlets after the header
    int refunit;        // the unit that holds the referring entry
} config_rom_unit;

typedef struct config_rom_ptr {
    uint32_t* data;     // write position
    int unitnum;        // the unit being written
    config_rom_unit unitdir[CONFIG_ROM_UNITS];
} config_rom_ptr;

// The image being built, quadlets in host order.
extern uint32_t config_rom[CONFIG_ROM_QUADLETS];

uint16_t ohci_crc16(const uint32_t* data, int n);
void cf_unit_begin(config_rom_ptr* p, int unit);
void cf_put_refer(config_rom_ptr* p, int key, int unit);
void cf_unit_end(config_rom_ptr* p);
void cf_put_crc16(config_rom_ptr* p, int unit);
void cf_put_str(config_rom_ptr* p, const char* text);
// Builds the image into config_rom; its length in quadlets.
int init_config_rom(uint32_t guid_hi, uint32_t serial);

int erase_block(uint32_t address, void* handle);
int flash_write(int bank, const unsigned char* data, int n, void* handle);
int flash_read(int bank, unsigned char* buffer, int n, void* handle);
int get_bank_version(int bank, void* handle);

double get_time(void);
void delay(double seconds);

// For tests: the node and port the loader operations use, and back to process start
// (the library's handle closed).
int fw_get_zanter_node(void);
void fw_reset_state(void);
// For tests: makes delay() spend no time (the simulated board needs none).
void fw_set_delay_scale(double scale);

#endif
