#include "transport/firewire/ZanterConvert.h"

#include <stdio.h>

#include <mutex>

namespace {

// The filter's time constant against the frame period: each packet moves a channel a
// tenth of the way to its new reading.
const double kDeltaT = 0.001;
const double kTimeConstant = 0.01;

struct ADC_CHANNEL {
    double dFiltered;
    int nCode;
};

ADC_CHANNEL g_aAdc[3] = {{0.0, 0}, {0.0, 0}, {0.0, 0}};

// Boards on different ports are decoded under different port locks; the filters are
// one set for the process.
std::mutex& FilterLock()
{
    static std::mutex* s_pMutex = new std::mutex();
    return *s_pMutex;
}

unsigned Pair(const unsigned char* p, int nLow)
{
    return ((unsigned)p[nLow + 1] << 8) | p[nLow];
}

void adc_convert(const unsigned char* p, int k)
{
    ADC_CHANNEL& c = g_aAdc[k];
    double dNew;
    unsigned nOver = Pair(p, er_adc0_over_lo + 2 * k);
    if (p[er_reg8_hi] & 0x10) {
        unsigned nUnder = Pair(p, er_adc0_under_lo + 2 * k);
        if (nOver == 0 || nOver == 65535 || nUnder == 0 || nUnder == 65535)
            return;
        dNew = (double)nUnder * 4095.0 / (double)(nUnder + nOver);
    } else {
        dNew = (double)nOver;
    }
    dNew = 4095.0 - dNew;
    // The converter has 12 bits: a reading beyond them is a corrupt packet, and must not
    // drive the channel below 0 or above full scale (the code would wrap round).
    if (dNew < 0.0)
        dNew = 0.0;
    else if (dNew > 4095.0)
        dNew = 4095.0;
    double f = kDeltaT / kTimeConstant;
    if (f > 1.0)
        f = 1.0;
    c.dFiltered = dNew * f + c.dFiltered * (1.0 - f);
    c.nCode = (int)(c.dFiltered + 0.5);
}

}  // namespace

int zanter_convert(const unsigned char* p, _PORT_INPUT* pBlock)
{
    if (!p || !pBlock)
        return -1;
    if (p[er_sig_lo] != 'F' || p[er_sig_hi] != 'W') {
        puts("zanter_convert: bad signature");
        return -1;
    }
    int anCodes[3];
    {
        std::lock_guard<std::mutex> lock(FilterLock());
        for (int k = 0; k < 3; k++) {
            adc_convert(p, k);
            anCodes[k] = g_aAdc[k].nCode;
        }
    }
    UCHAR a = p[er_reg8_hi];
    UCHAR b = p[er_reg9_hi];
    UCHAR ucMisc = 0;
    if (a & 0x20)
        ucMisc |= 0x80;
    if (!(b & 0x10))
        ucMisc |= BLOCK_MISCIN_WATCHDOG_OK;
    if (b & 0x08)
        ucMisc |= BLOCK_MISCIN_FAULT;
    if (!(a & 0x04))
        ucMisc |= BLOCK_MISCIN_HOME0 | BLOCK_MISCIN_HOME1 | BLOCK_MISCIN_HOME2;
    if (a & 0x01)
        ucMisc |= BLOCK_MISCIN_SWITCH0;
    if (a & 0x02)
        ucMisc |= BLOCK_MISCIN_PRESENCE;
    UCHAR ucSpeed = 0;
    if (b & 0x20)
        ucSpeed |= 0x10;
    if (b & 0x40)
        ucSpeed |= 0x20;
    if (b & 0x80)
        ucSpeed |= 0x40;
    pBlock->usQuad1 = (USHORT)Pair(p, er_quad1_lo);
    pBlock->usQuad2 = (USHORT)Pair(p, er_quad2_lo);
    pBlock->usQuad0 = (USHORT)Pair(p, er_quad0_lo);
    pBlock->usPot0 = (USHORT)anCodes[0];
    pBlock->usPot1 = (USHORT)anCodes[1];
    pBlock->usPot2 = (USHORT)anCodes[2];
    pBlock->ucTimerCnt = p[er_timer];
    pBlock->ucMiscIn = ucMisc;
    pBlock->ucWatchdogCntrIn = 0;
    pBlock->ucSpeedErrs = ucSpeed;
    return 0;
}

void zanter_reset_filters()
{
    std::lock_guard<std::mutex> lock(FilterLock());
    for (ADC_CHANNEL& c : g_aAdc) {
        c.dFiltered = 0.0;
        c.nCode = 0;
    }
}
