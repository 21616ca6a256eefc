// Home-sensor calibration of the block transports and the per-configuration offsets file.
#include "connection/BlockConnection.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "config/KinetorPaths.h"
#include "platform/ReplaceFile.h"
#include "platform/Trace.h"

// Expected flags and gaps before hardware revision 9: lower, upper (exclusive width
// bounds), centre in encoder counts.
const _AXIS_SENSOR_INFO CBlockConnection::m_asiOldAxisSensorInfo[3] = {
    {{{950, 1350, -5439}, {1425, 1750, 0}, {1850, 2250, 5439}},
     {{3925, 4275, -2828}, {3450, 3850, 2611}}},
    {{{950, 1250, -10334}, {1325, 1600, -6268}, {1675, 2000, -2202}},
     {{2625, 2950, -8385}, {2250, 2580, -4320}}},
    {{{800, 1400, 1295}, {0, 0, 0}, {0, 0, 0}},
     {{0, 0, 0}, {0, 0, 0}}},
};

// From revision 9 on each axis has a single flag; limits 0, 0 never match.
const _AXIS_SENSOR_INFO CBlockConnection::m_asiNewAxisSensorInfo[3] = {
    {{{0, 0, 0}, {950, 1750, 0}, {0, 0, 0}},
     {{0, 0, 0}, {0, 0, 0}}},
    {{{0, 0, 0}, {900, 1700, -6268}, {0, 0, 0}},
     {{0, 0, 0}, {0, 0, 0}}},
    {{{400, 1200, 1295}, {0, 0, 0}, {0, 0, 0}},
     {{0, 0, 0}, {0, 0, 0}}},
};

namespace {

const char kCalibrationFilePattern[] = "KinetorCalibration(%s)";

// Hardware revisions from this one on carry the single-flag sensor layout.
const int kNewSensorRevision = 9;

// Offsets are evaluated every tick for this many ticks after the sensor data was cleared,
// then every kEvaluationPeriod ticks.
const int kEvaluateEveryTick = 4999;
const int kEvaluationPeriod = 1000;
// The tick counter starts over here instead of overflowing; the value is a multiple of the
// evaluation period and the restart keeps it past the every-tick stretch.
const int kCounterRestartAt = 2000000000;
const int kCounterRestartTo = kEvaluateEveryTick + 2;
// m_nCycleNum only has to tell the first calls apart; it stops counting here.
const int kCycleNumLimit = 1000000;

// An offset in use this far or farther from the measured one is incorrect.
const LONG kIncorrectOffset = 225;
// WriteEncoderOffsets forgets the velocity of an offset in use beyond this distance.
const LONG kForgetVelocityOffset = 224;

// Reference calibration: calls during which the sensor state follows the reading directly,
// and readings a change must last to be taken.
const int kHomeSensorSettleCalls = 9;
const int kDebouncePeriod = 10;

const UCHAR kAxisHomeMask[3] = {0x10, 0x04, 0x08};

// Lines longer than this are cut; the offsets file has two short lines.
const size_t kLineSize = 256;
// Two lines of six numbers of at most 20 characters each.
const size_t kFileTextSize = 320;

LONG Truncate16(LONG l)
{
    return static_cast<SHORT>(static_cast<USHORT>(static_cast<unsigned long>(l)));
}

LONG Magnitude(LONG l)
{
    return (l < 0) ? -l : l;
}

BOOLEAN SameSign(LONG a, LONG b)
{
    return (a < 0 && b < 0) || (a >= 1 && b >= 1);
}

// Reads one line into pszLine (cut to nSize - 1 characters, the rest of the line is
// skipped). FALSE at end of file before any character.
BOOLEAN ReadLine(FILE* fp, char* pszLine, size_t nSize)
{
    size_t n = 0;
    int c;
    BOOLEAN bAny = FALSE;
    while ((c = fgetc(fp)) != EOF) {
        bAny = TRUE;
        if (c == '\n')
            break;
        if (n + 1 < nSize)
            pszLine[n++] = static_cast<char>(c);
    }
    pszLine[n] = '\0';
    return bAny;
}

// Six whitespace-separated decimal integers at the start of the line. A value outside the
// int range does not count as a number: the file is written with int conversions.
BOOLEAN ParseSix(const char* pszLine, LONG alValues[6])
{
    const char* p = pszLine;
    for (int i = 0; i < 6; i++) {
        char* pEnd = nullptr;
        errno = 0;
        long l = strtol(p, &pEnd, 10);
        if (pEnd == p || errno == ERANGE || l < INT_MIN || l > INT_MAX)
            return FALSE;
        alValues[i] = l;
        p = pEnd;
    }
    return TRUE;
}

}  // namespace

void CBlockConnection::ResetCalibration()
{
    for (int i = 0; i < 6; i++) {
        m_alEncOffsets[i] = 0;
        m_alEncOffsetsCalc[i] = 0;
        m_alEncOffsetsVel[i] = BLOCK_UNKNOWN_VELOCITY;
        m_alEncOffsetsCalcVel[i] = BLOCK_UNKNOWN_VELOCITY;
        m_bEncOffsetsValid[i] = FALSE;
        m_bEncOffsetsIncorrect[i] = FALSE;
    }
}

void CBlockConnection::FreeSensorData()
{
    for (int nAxis = 0; nAxis < 3; nAxis++) {
        _AXIS_SENSOR_DATA& asd = m_asdAxisSensorData[nAxis];
        for (int i = 0; i < 3; i++) {
            delete asd.psdFlagData[i];
            delete asd.psdGapData[i];
        }
    }
    memset(m_asdAxisSensorData, 0, sizeof(m_asdAxisSensorData));
}

void CBlockConnection::ClearSensorData()
{
    FreeSensorData();
    m_nCounter = 0;
    m_nCycleNum = 0;
}

void CBlockConnection::SetEncoderOffsets(const SHORT* nOffsets)
{
    if (nOffsets == nullptr)
        return;
    ClearSensorData();
    m_bAutoCalibrate = FALSE;
    for (int i = 0; i < 6; i++)
        m_alEncOffsetsRef[i] = nOffsets[i];
}

int CBlockConnection::GetCalibrationStatus(int& status)
{
    int nStatus = 0;
    for (int i = 0; i < 3; i++) {
        if (m_bEncOffsetsValid[i])
            nStatus |= 0x01 << i;
        if (m_bEncOffsetsIncorrect[i])
            nStatus |= 0x10 << i;
    }
    if ((nStatus & 0x07) == 0x07)
        nStatus |= 0x08;
    if ((nStatus & 0x70) == 0x70)
        nStatus |= 0x80;
    status = nStatus;
    return 1;
}

int CBlockConnection::UpdateCalibration()
{
    for (int i = 0; i < 6; i++) {
        if (m_bEncOffsetsValid[i] && m_bEncOffsetsIncorrect[i]) {
            LOG("Axis %d | Current Offset = %6d | New Offset = %6d\n", i, (int)m_alEncOffsets[i],
                (int)m_alEncOffsetsCalc[i]);
            m_alEncOffsets[i] = m_alEncOffsetsCalc[i];
            m_alEncOffsetsVel[i] = m_alEncOffsetsCalcVel[i];
            m_bEncOffsetsIncorrect[i] = FALSE;
        }
    }
    if (m_pszName[0] != '\0')
        WriteEncoderOffsets(m_pszName);
    return 1;
}

void CBlockConnection::ReadEncoderOffsets(char* pszName)
{
    if (pszName == nullptr) {
        m_pszName[0] = '\0';
        return;
    }
    if (strnlen(pszName, sizeof(m_pszName)) < sizeof(m_pszName))
        snprintf(m_pszName, sizeof(m_pszName), "%s", pszName);
    else
        m_pszName[0] = '\0';

    // Only names that stay inside the configuration directory are looked up.
    char szPath[KINETOR_MAX_PATH + 1];
    if (!FormStateFilePath(szPath, sizeof(szPath), kCalibrationFilePattern, pszName))
        return;
    FILE* fp = fopen(szPath, "r");
    if (fp == nullptr)
        return;

    char szLine[kLineSize];
    LONG alValues[6];
    BOOLEAN bOffsets = ReadLine(fp, szLine, sizeof(szLine)) && ParseSix(szLine, alValues);
    for (int i = 0; i < 6; i++)
        m_alEncOffsets[i] = bOffsets ? alValues[i] : 0;
    BOOLEAN bVelocities = ReadLine(fp, szLine, sizeof(szLine)) && ParseSix(szLine, alValues);
    for (int i = 0; i < 6; i++)
        m_alEncOffsetsVel[i] = bVelocities ? alValues[i] : BLOCK_UNKNOWN_VELOCITY;
    fclose(fp);
}

void CBlockConnection::WriteEncoderOffsets(char* pszName)
{
    LOG("Current encoder offsets:    %6d %6d %6d %6d %6d %6d\n", (int)m_alEncOffsets[0],
        (int)m_alEncOffsets[1], (int)m_alEncOffsets[2], (int)m_alEncOffsets[3],
        (int)m_alEncOffsets[4], (int)m_alEncOffsets[5]);
    LOG("Calculated encoder offsets: %6d %6d %6d %6d %6d %6d\n", (int)m_alEncOffsetsCalc[0],
        (int)m_alEncOffsetsCalc[1], (int)m_alEncOffsetsCalc[2], (int)m_alEncOffsetsCalc[3],
        (int)m_alEncOffsetsCalc[4], (int)m_alEncOffsetsCalc[5]);
    for (int i = 0; i < 6; i++) {
        if (!m_bEncOffsetsValid[i])
            continue;
        if (Magnitude(m_alEncOffsets[i] - m_alEncOffsetsCalc[i]) > kForgetVelocityOffset)
            m_alEncOffsetsVel[i] = BLOCK_UNKNOWN_VELOCITY;
        if (Magnitude(m_alEncOffsetsCalcVel[i]) < Magnitude(m_alEncOffsetsVel[i])) {
            m_alEncOffsets[i] = m_alEncOffsetsCalc[i];
            m_alEncOffsetsVel[i] = m_alEncOffsetsCalcVel[i];
        }
    }

    // An empty name means no file; a name that would leave the configuration directory
    // writes nothing.
    if (pszName == nullptr || pszName[0] == '\0')
        return;
    char szPath[KINETOR_MAX_PATH + 1];
    if (!FormStateFilePath(szPath, sizeof(szPath), kCalibrationFilePattern, pszName))
        return;
    char szText[kFileTextSize];
    int n = snprintf(szText, sizeof(szText), "%ld %ld %ld %ld %ld %ld\n%ld %ld %ld %ld %ld %ld\n",
                     m_alEncOffsets[0], m_alEncOffsets[1], m_alEncOffsets[2], m_alEncOffsets[3],
                     m_alEncOffsets[4], m_alEncOffsets[5], m_alEncOffsetsVel[0], m_alEncOffsetsVel[1],
                     m_alEncOffsetsVel[2], m_alEncOffsetsVel[3], m_alEncOffsetsVel[4],
                     m_alEncOffsetsVel[5]);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(szText))
        return;
    // A failed save is not reported; replacing the file whole keeps the offsets saved last
    // instead of leaving a torn file that would read as no calibration at all.
    ReplaceFileContents(szPath, szText, static_cast<size_t>(n));
}

void CBlockConnection::ComputeCalibration()
{
    m_pasiAxisSensorInfo = ((m_regsIn.ucSpeedErrs & BLOCK_SPEEDERRS_REVISION) < kNewSensorRevision)
                               ? m_asiOldAxisSensorInfo
                               : m_asiNewAxisSensorInfo;

    LONG alEncoders[3];
    alEncoders[0] = static_cast<SHORT>(m_regsIn.usQuad0);
    alEncoders[1] = static_cast<SHORT>(m_regsIn.usQuad1);
    alEncoders[2] = static_cast<SHORT>(m_regsIn.usQuad2);

    for (int nAxis = 0; nAxis < 3; nAxis++)
        DetectSensorData(nAxis, m_regsIn.ucMiscIn, alEncoders, &m_asdAxisSensorData[nAxis]);

    if (m_nCounter <= kEvaluateEveryTick || (m_nCounter % kEvaluationPeriod) == 0) {
        for (int nAxis = 0; nAxis < 3; nAxis++) {
            LONG lOffset = 0;
            LONG lVelocity = BLOCK_UNKNOWN_VELOCITY;
            BOOLEAN bValid = CalculateEncoderOffset(nAxis, &m_asdAxisSensorData[nAxis], lOffset,
                                                    lVelocity);
            m_bEncOffsetsValid[nAxis] = bValid;
            if (bValid) {
                m_alEncOffsetsCalc[nAxis] = lOffset;
                m_alEncOffsetsCalcVel[nAxis] = lVelocity;
                m_bEncOffsetsIncorrect[nAxis] =
                    (Magnitude(m_alEncOffsets[nAxis] - lOffset) >= kIncorrectOffset) ? TRUE : FALSE;
            }
        }
    }

    m_nCounter = (m_nCounter >= kCounterRestartAt) ? kCounterRestartTo : m_nCounter + 1;
}

void CBlockConnection::DetectSensorData(int nAxis, UCHAR homeSensorData, const LONG* alEncoders,
                                        _AXIS_SENSOR_DATA* pSensorData)
{
    (void)pSensorData;
    if (m_nCycleNum < kCycleNumLimit)
        m_nCycleNum++;

    const unsigned char bSensor = (homeSensorData & kAxisHomeMask[nAxis]) ? 1 : 0;
    const LONG lCount = alEncoders[nAxis];

    if (m_nCycleNum <= 3) {
        m_bHomeSensorState[nAxis] = bSensor;
        m_alLastEncoder[nAxis] = lCount;
        m_alEncoderOn[nAxis] = BLOCK_UNKNOWN_VELOCITY;
        m_alEncoderOff[nAxis] = BLOCK_UNKNOWN_VELOCITY;
        m_alEncoderOnVel[nAxis] = 0;
        m_alEncoderOffVel[nAxis] = 0;
        m_alEncOffsetsCalcVel[nAxis] = BLOCK_UNKNOWN_VELOCITY;
        return;
    }

    if (bSensor && !m_bHomeSensorState[nAxis]) {
        // Entering a flag closes the gap that began at the last falling edge.
        m_bHomeSensorState[nAxis] = 1;
        m_alEncoderOn[nAxis] = lCount;
        m_alEncoderOnVel[nAxis] = lCount - m_alLastEncoder[nAxis];
        if (m_alEncoderOff[nAxis] != BLOCK_UNKNOWN_VELOCITY &&
            SameSign(m_alEncoderOnVel[nAxis], m_alEncoderOffVel[nAxis])) {
            _SENSOR_DATA sd;
            SetSensorData(nAxis, sd);
            int nId = -1;
            if (IsGapValid(nAxis, sd, nId))
                StoreGap(nAxis, nId, sd);
        }
        m_alEncoderOff[nAxis] = BLOCK_UNKNOWN_VELOCITY;
        m_alEncoderOffVel[nAxis] = 0;
    } else if (!bSensor && m_bHomeSensorState[nAxis]) {
        // Leaving a flag closes the flag that began at the last rising edge.
        m_bHomeSensorState[nAxis] = 0;
        m_alEncoderOff[nAxis] = lCount;
        m_alEncoderOffVel[nAxis] = lCount - m_alLastEncoder[nAxis];
        if (m_alEncoderOn[nAxis] != BLOCK_UNKNOWN_VELOCITY &&
            SameSign(m_alEncoderOnVel[nAxis], m_alEncoderOffVel[nAxis])) {
            _SENSOR_DATA sd;
            SetSensorData(nAxis, sd);
            int nId = -1;
            if (IsFlagValid(nAxis, sd, nId))
                StoreFlag(nAxis, nId, sd);
        }
        m_alEncoderOn[nAxis] = BLOCK_UNKNOWN_VELOCITY;
        m_alEncoderOnVel[nAxis] = 0;
    }
    m_alLastEncoder[nAxis] = lCount;
}

void CBlockConnection::SetSensorData(int nAxis, _SENSOR_DATA& sd)
{
    const LONG lOn = m_alEncoderOn[nAxis];
    const LONG lOff = m_alEncoderOff[nAxis];
    sd.lStart = (lOn < lOff) ? lOn : lOff;
    sd.lStop = (lOn < lOff) ? lOff : lOn;
    sd.lWidth = sd.lStop - sd.lStart;
    sd.lMidPoint = (sd.lStart + sd.lStop) / 2;
    sd.lVelocity = m_alEncoderOnVel[nAxis] + m_alEncoderOffVel[nAxis];
}

BOOLEAN CBlockConnection::IsFlagValid(int nAxis, const _SENSOR_DATA& sd, int& nId) const
{
    nId = -1;
    if (m_pasiAxisSensorInfo == nullptr || nAxis < 0 || nAxis > 2)
        return FALSE;
    const int nCount = (nAxis == 2) ? 1 : 3;
    for (int i = 0; i < nCount; i++) {
        const _SENSOR_INFO& si = m_pasiAxisSensorInfo[nAxis].asiFlagInfo[i];
        if (si.lLowerLimit < sd.lWidth && sd.lWidth < si.lUpperLimit) {
            nId = i;
            return TRUE;
        }
    }
    return FALSE;
}

BOOLEAN CBlockConnection::IsGapValid(int nAxis, const _SENSOR_DATA& sd, int& nId) const
{
    nId = -1;
    if (m_pasiAxisSensorInfo == nullptr || nAxis < 0 || nAxis > 1)
        return FALSE;
    for (int i = 0; i < 2; i++) {
        const _SENSOR_INFO& si = m_pasiAxisSensorInfo[nAxis].asiGapInfo[i];
        if (si.lLowerLimit < sd.lWidth && sd.lWidth < si.lUpperLimit) {
            nId = i;
            return TRUE;
        }
    }
    return FALSE;
}

void CBlockConnection::StoreFlag(int nAxis, int nId, const _SENSOR_DATA& sd)
{
    if (nId < 0 || nId > 2)
        return;
    _AXIS_SENSOR_DATA& asd = m_asdAxisSensorData[nAxis];
    if (asd.psdFlagData[nId] == nullptr) {
        _SENSOR_DATA* p = new (std::nothrow) _SENSOR_DATA(sd);
        if (p == nullptr)
            return;
        asd.psdFlagData[nId] = p;
        asd.nFlags++;
    } else if (Magnitude(sd.lVelocity) < Magnitude(asd.psdFlagData[nId]->lVelocity)) {
        // A slower pass measures the edges more precisely.
        *asd.psdFlagData[nId] = sd;
    }
}

void CBlockConnection::StoreGap(int nAxis, int nId, const _SENSOR_DATA& sd)
{
    if (nId < 0 || nId > 1)
        return;
    _AXIS_SENSOR_DATA& asd = m_asdAxisSensorData[nAxis];
    if (asd.psdGapData[nId] == nullptr) {
        _SENSOR_DATA* p = new (std::nothrow) _SENSOR_DATA(sd);
        if (p == nullptr)
            return;
        asd.psdGapData[nId] = p;
        asd.nGaps++;
    } else if (Magnitude(sd.lVelocity) < Magnitude(asd.psdGapData[nId]->lVelocity)) {
        *asd.psdGapData[nId] = sd;
    }
}

BOOLEAN CBlockConnection::CalculateEncoderOffset(int nAxis, const _AXIS_SENSOR_DATA* pSensorData,
                                                 LONG& nOffset, LONG& nVelocity) const
{
    nOffset = 0;
    nVelocity = BLOCK_UNKNOWN_VELOCITY;
    if (pSensorData == nullptr || m_pasiAxisSensorInfo == nullptr)
        return FALSE;
    BOOLEAN bFound = FALSE;
    LONG lMinVelocity = 0;
    const _AXIS_SENSOR_INFO& asi = m_pasiAxisSensorInfo[nAxis];

    for (int i = 0; i < 3; i++) {
        const _SENSOR_DATA* psd = pSensorData->psdFlagData[i];
        if (psd == nullptr)
            continue;
        if (!bFound || Magnitude(psd->lVelocity) < lMinVelocity) {
            bFound = TRUE;
            lMinVelocity = Magnitude(psd->lVelocity);
            nOffset = Truncate16(psd->lMidPoint - asi.asiFlagInfo[i].lCenter);
            nVelocity = Truncate16(psd->lVelocity);
        }
    }
    for (int i = 0; i < 2; i++) {
        const _SENSOR_DATA* psd = pSensorData->psdGapData[i];
        if (psd == nullptr)
            continue;
        if (!bFound || Magnitude(psd->lVelocity) < lMinVelocity) {
            bFound = TRUE;
            lMinVelocity = Magnitude(psd->lVelocity);
            nOffset = Truncate16(psd->lMidPoint - asi.asiGapInfo[i].lCenter);
            nVelocity = Truncate16(psd->lVelocity);
        }
    }
    return bFound;
}

void CBlockConnection::CheckHomeSensor()
{
    if (m_nCycleNum < kCycleNumLimit)
        m_nCycleNum++;

    if (m_nCycleNum <= kHomeSensorSettleCalls) {
        m_bHomeSensorState[0] = ReadHomeSensor(0) ? 1 : 0;
        return;
    }

    const unsigned char bReading = ReadHomeSensor(0) ? 1 : 0;
    if (bReading != m_bHomeSensorState[0]) {
        m_nCounter++;
        if (m_nCounter == kDebouncePeriod)
            m_bHomeSensorState[0] = bReading;
    } else {
        m_nCounter = 0;
    }

    if (!m_bHomeSensorState[0]) {
        const USHORT ausRaw[5] = {m_regsIn.usQuad0, m_regsIn.usQuad1, m_regsIn.usQuad2,
                                  m_regsIn.usPot0, m_regsIn.usPot1};
        for (int i = 0; i < 5; i++) {
            m_alEncOffsetsCalc[i] = static_cast<LONG>(ausRaw[i]) - m_alEncOffsetsRef[i];
            m_alEncOffsetsCalcVel[i] = 0;
            m_bEncOffsetsValid[i] = TRUE;
            m_bEncOffsetsIncorrect[i] = (m_alEncOffsets[i] != m_alEncOffsetsCalc[i]) ? TRUE : FALSE;
        }
    }
}
