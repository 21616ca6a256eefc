// The black box of one device: the last 256 servo ticks (time, pose, force sent, DAC
// words, fault), kept in a fixed ring that the tick fills without allocating, and written
// to "KinetorBlackBox(<name>)" in the state directory when a safety check trips, so that
// what led up to the trip can be read afterwards.
#ifndef KINETOR_BLACK_BOX_H
#define KINETOR_BLACK_BOX_H

#include <stddef.h>
#include <stdint.h>
#include <time.h>

typedef struct _BLACK_BOX_ENTRY {
    int64_t nTimeUs;     // device clock
    float afPos[3];      // stylus position, mm
    float afForce[3];    // force sent in the tick, N (0 when none was)
    long alDac[6];       // signed DAC counts going to the motors
    int nFault;          // unfiltered device fault code, 0 when none
} BLACK_BOX_ENTRY;

// The safety checks that write the black box.
enum EBlackBoxReason {
    BLACK_BOX_OVERSPEED = 0,
    BLACK_BOX_TEMPERATURE,
    BLACK_BOX_FORCE_KICK,
    BLACK_BOX_LINK_LOST,
    BLACK_BOX_REASONS
};

class CBlackBox {
public:
    static constexpr int kEntries = 256;
    static const char kFilePattern[];

    CBlackBox();

    // Opens the entry of a new tick; the force starts at zero.
    void BeginTick(int64_t nTimeUs, const float* pfPos, const long* plDac, int nFault);
    // What the force path sent in the current tick: a Cartesian force (null for none) and
    // the DAC words.
    void SetSent(const float* pfForce, const long* plDac);

    // A check tripped: writes the file for the device unless this check already wrote it
    // and has not passed since. True when the file was written now.
    bool Trip(EBlackBoxReason eReason, const char* pszDevice);
    // The check passed: its next trip writes again.
    void Rearm(EBlackBoxReason eReason) { m_abTripped[eReason] = false; }

    // The file's text into pszText (at most nSize bytes with the NUL); its length, or -1
    // when it does not fit.
    int FormText(EBlackBoxReason eReason, const char* pszDevice, time_t tNow, char* pszText,
                 size_t nSize) const;

    int GetCount() const { return m_nCount; }
    // Entry i, 0 the oldest kept.
    const BLACK_BOX_ENTRY& GetEntry(int i) const;

    static const char* ReasonText(EBlackBoxReason eReason);

private:
    CBlackBox(const CBlackBox&) = delete;
    CBlackBox& operator=(const CBlackBox&) = delete;

    // Room for the header and 256 lines of the widest numbers a float or long can print.
    static constexpr size_t kTextSize = 512 + (size_t)kEntries * 448;

    BLACK_BOX_ENTRY m_aEntries[kEntries];
    int m_nNext;
    int m_nCount;
    bool m_abTripped[BLACK_BOX_REASONS];
    // Formed here rather than on the tick's stack: the text is over 100 kB.
    char m_szText[kTextSize];
};

#endif
