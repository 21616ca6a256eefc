// State that outlives one opening of a device: the motor temperatures (so that a warm
// arm reopened at once is not treated as cold) and the pinch-grip calibration; and the
// calibration entry points that forward to the device model.
#include <ctype.h>
#include <limits.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include "config/KinetorPaths.h"
#include "core/IOLibAPI.h"
#include "device/HapticDevice.h"
#include "platform/ReplaceFile.h"
#include "platform/Trace.h"

namespace {

const char kTemperaturePattern[] = "KinetorTemperature(%s)";
const char kPinchPattern[] = "Pinch Calibration(%s)";
const size_t kPathSize = KINETOR_MAX_PATH + 1;
// Room for four lines of three temperatures, even at the float range's extremes.
const size_t kStateTextSize = 1024;
const float kMinElapsed = 0.001f;

// Reads one text line into pszLine, dropping whatever does not fit. False at end of file.
bool ReadLine(FILE* pFile, char* pszLine, size_t nSize)
{
    if (fgets(pszLine, (int)nSize, pFile) == nullptr)
        return false;
    if (strchr(pszLine, '\n') == nullptr) {
        int c;
        while ((c = fgetc(pFile)) != EOF && c != '\n') {
        }
    }
    return true;
}

// Three finite numbers from one line. A value such as "nan" would disable every later
// temperature comparison, so it counts as unreadable like any other malformed line.
bool ParseTriple(const char* pszLine, float* a, float* b, float* c)
{
    if (sscanf(pszLine, "%f %f %f", a, b, c) != 3)
        return false;
    return isfinite(*a) && isfinite(*b) && isfinite(*c);
}

// A decimal integer read as a "%ld" conversion reads it: white space, an optional sign,
// then digits up to the first other character, which is left for the next label. Its low
// 32 bits become an int. An out-of-range number saturates instead of being undefined.
bool ReadPinchNumber(FILE* pFile, int& nValue)
{
    int c;
    do {
        c = fgetc(pFile);
    } while (c != EOF && isspace(c));
    bool bNegative = false;
    if (c == '+' || c == '-') {
        bNegative = c == '-';
        c = fgetc(pFile);
    }
    if (c == EOF || !isdigit(c)) {
        if (c != EOF)
            ungetc(c, pFile);
        return false;
    }
    const unsigned long long nLimit =
        bNegative ? (unsigned long long)LLONG_MAX + 1 : (unsigned long long)LLONG_MAX;
    unsigned long long v = 0;
    for (; c != EOF && isdigit(c); c = fgetc(pFile)) {
        const unsigned nDigit = (unsigned)(c - '0');
        v = (v > (nLimit - nDigit) / 10) ? nLimit : v * 10 + nDigit;
    }
    if (c != EOF)
        ungetc(c, pFile);
    const unsigned long long nBits = bNegative ? 0 - v : v;
    nValue = (int)(int32_t)(uint32_t)nBits;
    return true;
}

// One "label number" pair of the pinch file.
bool ReadPinchPair(FILE* pFile, int& nValue)
{
    char szLabel[256];
    if (fscanf(pFile, "%255s", szLabel) != 1)
        return false;
    return ReadPinchNumber(pFile, nValue);
}

}  // namespace

void CIOLibAPI::WriteMotorTemperatures()
{
    char szPath[kPathSize];
    if (!FormStateFilePath(szPath, sizeof(szPath), kTemperaturePattern, m_szKinetorName))
        return;
    const _KINETOR_DEVICE_DATA& d = m_devData;
    char szText[kStateTextSize];
    int n = snprintf(szText, sizeof(szText), "%.2f %.2f %.2f\n%.2f %.2f %.2f\n%.2f %.2f %.2f\n%.2f %.2f %.2f\n",
                     (double)d.fTcu[0], (double)d.fTcu[1], (double)d.fTcu[2], (double)d.fTfe[0],
                     (double)d.fTfe[1], (double)d.fTfe[2], (double)d.fTcu[3], (double)d.fTcu[4],
                     (double)d.fTcu[5], (double)d.fTfe[3], (double)d.fTfe[4], (double)d.fTfe[5]);
    if (n < 0 || (size_t)n >= sizeof(szText))
        return;
    // Nobody is told of a failure; the previous estimate then stays on file, which is
    // better than a torn one that would read as ambient.
    ReplaceFileContents(szPath, szText, (size_t)n);
}

void CIOLibAPI::ReadMotorTemperatures()
{
    _KINETOR_DEVICE_DATA& d = m_devData;
    char szPath[kPathSize];
    if (!FormStateFilePath(szPath, sizeof(szPath), kTemperaturePattern, m_szKinetorName))
        return;
    struct stat st;
    if (stat(szPath, &st) != 0)
        return;
    time_t now = time(nullptr);
    if (now == (time_t)-1)
        return;
    float t = (float)difftime(now, st.st_mtime);

    FILE* pFile = fopen(szPath, "r");
    if (pFile == nullptr)
        return;
    // Read values are staged so that a malformed line affects only its own three values.
    float afTcu0[6], afTfe0[6];
    float* apLines[4] = {&afTcu0[0], &afTfe0[0], &afTcu0[3], &afTfe0[3]};
    char szLine[256];
    for (int k = 0; k < 4; k++) {
        float* v = apLines[k];
        bool bOk = ReadLine(pFile, szLine, sizeof(szLine)) && ParseTriple(szLine, &v[0], &v[1], &v[2]);
        if (!bOk)
            v[0] = v[1] = v[2] = d.fTatm;
    }
    fclose(pFile);

    if (!(t >= kMinElapsed))
        t = kMinElapsed;
    LOG("Continuous-Time Decay Elapsed Time: %f\n", (double)t);

    const float Ta = d.fTatm;
    for (int i = 0; i < 6; i++) {
        const float Tcu0 = afTcu0[i];
        const float Tfe0 = afTfe0[i];
        const float K1 = d.fThermalDecayK1[i], K2 = d.fThermalDecayK2[i], K3 = d.fThermalDecayK3[i];
        const float K4 = d.fThermalDecayK4[i], K5 = d.fThermalDecayK5[i];
        const float A1 = d.fThermalDecayA1[i], A2 = d.fThermalDecayA2[i];
        const float D = (Ta + Tcu0 - 2.0f * Tfe0) * K3 + (Ta - Tcu0) * K2;
        const float Q = -K2 * (Ta - Tcu0) - (Ta + Tcu0 - 2.0f * Tfe0) * K3;
        const float e1 = expf(-A1 * t);
        const float e2 = expf(-A2 * t);
        const float Tcu = (D * K1 + (Tcu0 - Ta)) * e1 + Ta + Q * e2 * K1;
        const float dTcu = -K4 * e1 * (D * K1 + (Tcu0 - Ta)) - Q * e2 * K5;
        const float Tfe = d.fRcf[i] * d.fCcu * d.fMcu[i] * dTcu + Tcu;
        // Stored temperatures only fall, and never below ambient.
        d.fTcu[i] = fmaxf(fminf(Tcu0, Tcu), Ta);
        d.fTfe[i] = fmaxf(fminf(Tfe0, Tfe), Ta);
    }
    LOG("Continuous Time Decay Temp: %f %f %f %f %f %f\n", (double)d.fTcu[0], (double)d.fTcu[1],
        (double)d.fTcu[2], (double)d.fTfe[0], (double)d.fTfe[1], (double)d.fTfe[2]);
}

int CIOLibAPI::GetKinetorTemp(float* temperature)
{
    const float* src = (m_nModelType == 5) ? m_devData.fTfe : m_devData.fTcu;
    for (int i = 0; i < 3; i++)
        temperature[i] = src[i];
    return 0;
}

int CIOLibAPI::GetKinetorTempNormalized(float* temperature)
{
    GetKinetorTemp(temperature);
    const float Ta = m_devData.fTatm;
    for (int i = 0; i < 3; i++)
        temperature[i] = (temperature[i] - Ta) / (m_devData.fTmax[i] - Ta);
    return 0;
}

int CIOLibAPI::GetKinetorTemp6DOF(float* temperature)
{
    GetKinetorTemp(temperature);
    for (int i = 3; i < 6; i++)
        temperature[i] = (m_nModelType == 4) ? m_devData.fTcu[i] : 0.0f;
    return 0;
}

int CIOLibAPI::GetKinetorTempNormalized6DOF(float* temperature)
{
    GetKinetorTemp6DOF(temperature);
    const int n = (m_nModelType == 4) ? 6 : 3;
    const float Ta = m_devData.fTatm;
    for (int i = 0; i < n; i++)
        temperature[i] = (temperature[i] - Ta) / (m_devData.fTmax[i] - Ta);
    return 0;
}

BOOLEAN CIOLibAPI::ReadPinchParameters(char* pszName)
{
    if (pszName == nullptr || strlen(pszName) < 2)
        return 0;
    char szPath[kPathSize];
    FILE* pFile = nullptr;
    if (FormStateFilePath(szPath, sizeof(szPath), kPinchPattern, pszName))
        pFile = fopen(szPath, "r");
    if (pFile == nullptr) {
        m_devData.nPinchMin = 0;
        m_devData.nPinchMax = 1;
        return 0;
    }
    bool bOk = ReadPinchPair(pFile, m_devData.nPinchMin) && ReadPinchPair(pFile, m_devData.nPinchMax);
    fclose(pFile);
    return bOk ? 1 : 0;
}

BOOLEAN CIOLibAPI::WritePinchParameters(char* pszName)
{
    if (pszName == nullptr)
        return 0;
    char szPath[kPathSize];
    if (!FormStateFilePath(szPath, sizeof(szPath), kPinchPattern, pszName))
        return 0;
    // Negative limits are stored as their unsigned 32-bit rendering, as readers expect.
    char szText[kStateTextSize];
    int n = snprintf(szText, sizeof(szText), "%s %lu \n%s %lu \n", "PinchMin",
                     (unsigned long)(uint32_t)m_devData.nPinchMin, "PinchMax",
                     (unsigned long)(uint32_t)m_devData.nPinchMax);
    if (n < 0 || (size_t)n >= sizeof(szText))
        return 0;
    return ReplaceFileContents(szPath, szText, (size_t)n) ? 1 : 0;
}

void CIOLibAPI::SetPinchLimits(int min, int max)
{
    if (m_devData.nExtra6DOFOption != 1 && m_devData.nExtra6DOFOption != 2) {
        m_devData.nPinchMin = 0;
        m_devData.nPinchMax = 1;
        return;
    }
    m_devData.nPinchMin = min;
    m_devData.nPinchMax = max;
    if (WritePinchParameters(m_szKinetorName) == 1)
        m_devData.nPinchCalibrated = 1;
}

int CIOLibAPI::IsPinchCalibrated() { return m_devData.nPinchCalibrated; }

double CIOLibAPI::GetPinchValue()
{
    if (m_devData.nExtra6DOFOption != 0)
        return m_devData.dPinchValue;
    return 0.0;
}

int CIOLibAPI::GetCalibrationStatus(int& status)
{
    if (m_pDevice == nullptr)
        return -10;
    return m_pDevice->GetCalibrationStatus(status);
}

int CIOLibAPI::UpdateCalibration()
{
    if (m_pDevice == nullptr)
        return -10;
    m_bRampForces = 1;
    m_devData.nRuns = 0;
    ZeroMotionState();

    m_devData.dPinchValue = 0.0;
    m_devData.nPinchMax = 1;
    m_devData.nPinchMin = 0;
    m_devData.nPinchCalibrated = ReadPinchParameters(m_szKinetorName) == 1 ? 1 : 0;

    int e = m_pDevice->UpdateCalibration();
    if (e != 0)
        return e;
    e = m_pDevice->ZeroTorques();
    if (e != 0)
        return e;
    UpdateKinetor();
    return 0;
}
