// The board's IEEE 1212 configuration ROM: bus information block, root directory, unit
// directory and vendor text leaf, each with its CRC-16, carrying the serial number as the
// low half of the GUID.
#include <string.h>

#include "firmware/FirmwareInternal.h"

uint32_t config_rom[CONFIG_ROM_QUADLETS];

uint16_t ohci_crc16(const uint32_t* data, int n)
{
    uint32_t crc = 0;
    for (int i = 0; data && i < n; i++) {
        for (int shift = 28; shift >= 0; shift -= 4) {
            uint32_t sum = ((crc >> 12) ^ (data[i] >> shift)) & 0xF;
            crc = ((crc << 4) ^ (sum << 12) ^ (sum << 5) ^ sum) & 0xFFFF;
        }
    }
    return (uint16_t)crc;
}

void cf_put_crc16(config_rom_ptr* p, int unit)
{
    config_rom_unit& u = p->unitdir[unit];
    *u.start = ((uint32_t)u.length << 16) | ohci_crc16(u.start + 1, u.length);
}

void cf_unit_begin(config_rom_ptr* p, int unit)
{
    config_rom_unit& u = p->unitdir[unit];
    if (u.refer) {
        // The entry that points here can only be completed now that we know where here is.
        *u.refer |= (uint32_t)(p->data - u.refer) & 0xFFFFFF;
        cf_put_crc16(p, u.refunit);
    }
    p->unitnum = unit;
    u.start = p->data;
    p->data++;
}

void cf_put_refer(config_rom_ptr* p, int key, int unit)
{
    *p->data = (uint32_t)key << 24;
    p->unitdir[unit].refer = p->data;
    p->unitdir[unit].refunit = p->unitnum;
    p->data++;
}

void cf_unit_end(config_rom_ptr* p)
{
    config_rom_unit& u = p->unitdir[p->unitnum];
    u.length = (int)(p->data - u.start - 1);
    cf_put_crc16(p, p->unitnum);
}

void cf_put_str(config_rom_ptr* p, const char* text)
{
    size_t n = text ? strlen(text) : 0;
    for (size_t i = 0; i < n; i += 4) {
        uint32_t q = 0;
        for (size_t k = 0; k < 4; k++)
            q = (q << 8) | (uint32_t)(unsigned char)(i + k < n ? text[i + k] : 0);
        *p->data++ = q;
    }
}

int init_config_rom(uint32_t guid_hi, uint32_t serial)
{
    config_rom_ptr p;
    memset(&p, 0, sizeof(p));
    memset(config_rom, 0, sizeof(config_rom));
    p.data = config_rom;

    cf_unit_begin(&p, 0);            // bus information block
    *p.data++ = 0x31333934;          // "1394"
    *p.data++ = 0x60645000;          // bus options
    *p.data++ = guid_hi;
    *p.data++ = serial;
    cf_unit_end(&p);

    cf_unit_begin(&p, 1);            // root directory
    *p.data++ = 0x0300A7E5;          // module vendor id
    cf_put_refer(&p, 0xD1, 2);       // unit directory
    *p.data++ = 0x0C0083C0;          // node capabilities
    cf_put_refer(&p, 0x81, 3);       // text leaf
    cf_unit_end(&p);

    cf_unit_begin(&p, 2);            // unit directory
    *p.data++ = 0x1200A7E5;          // unit specifier id
    *p.data++ = 0x13010002;          // unit software version
    cf_unit_end(&p);

    cf_unit_begin(&p, 3);            // text leaf
    *p.data++ = 0;
    *p.data++ = 0;
    cf_put_str(&p, "Tandrel Technologies");
    cf_unit_end(&p);

    // The first quadlet covers the whole image and says how long the bus information is.
    p.unitnum = 0;
    p.unitdir[0].length = (int)(p.data - config_rom - 1);
    cf_put_crc16(&p, 0);
    config_rom[0] = (config_rom[0] & 0x00FFFFFF) | (4UL << 24);
    return (int)(p.data - config_rom);
}

extern "C" int zanload_make_config_rom(int serial, void* buffer, int size)
{
    int nQuadlets = init_config_rom(ZANTER_GUID_HI, (uint32_t)serial);
    int nBytes = nQuadlets * 4;
    if (!buffer || size <= nBytes)
        return -1;
    unsigned char* p = static_cast<unsigned char*>(buffer);
    for (int i = 0; i < nQuadlets; i++) {
        p[4 * i] = (unsigned char)(config_rom[i] >> 24);
        p[4 * i + 1] = (unsigned char)(config_rom[i] >> 16);
        p[4 * i + 2] = (unsigned char)(config_rom[i] >> 8);
        p[4 * i + 3] = (unsigned char)config_rom[i];
    }
    return nBytes;
}
