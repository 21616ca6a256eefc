// Decoding of the board's isochronous encoder packets into the input block.
#ifndef ZANTER_CONVERT_H
#define ZANTER_CONVERT_H

#include "connection/BlockConnection.h"

// Bytes of an encoder packet as the board sends it.
#define ZANTER_PACKET_SIZE 32

// Byte positions in an encoder packet.
enum enc_regs {
    er_junk1 = 0,
    er_junk2,
    er_hw_rev,
    er_hw_rev_complement,
    er_quad0_lo,
    er_quad0_hi,
    er_quad1_lo,
    er_quad1_hi,
    er_quad2_lo,
    er_quad2_hi,
    er_adc0_under_lo,
    er_adc0_under_hi,
    er_adc1_under_lo,
    er_adc1_under_hi,
    er_adc2_under_lo,
    er_adc2_under_hi,
    er_adc3_under_lo,
    er_adc3_under_hi,
    er_timer,
    er_reg8_hi,
    er_reg9_lo,
    er_reg9_hi,
    er_adc0_over_lo,
    er_adc0_over_hi,
    er_adc1_over_lo,
    er_adc1_over_hi,
    er_adc2_over_lo,
    er_adc2_over_hi,
    er_adc3_over_lo,
    er_adc3_over_hi,
    er_sig_lo,
    er_sig_hi
};

// Decodes a 32-byte packet into pBlock; 0, or -1 (block untouched) for a packet without
// the board's signature. The analogue channels are filtered from packet to packet.
int zanter_convert(const unsigned char* pPacket, _PORT_INPUT* pBlock);
// For tests: the analogue filters back to their power-up state.
void zanter_reset_filters();

#endif
