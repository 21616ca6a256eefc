// Two-node thermal model of every motor (winding and body), integrated from the current
// commanded: the motors have no sensors, so this is what keeps them from burning.
// Three variants: the 3-DOF arm (one motor per call), the 6-DOF arm (all six, with the
// winding resistance following its temperature) and the Cirrel (current-limited
// amplifier, limited on the body temperature).
#include <math.h>

#include "device/Kinetor3DOFDevice.h"
#include "device/Kinetor6DOFDevice.h"
#include "device/KinetorCirrelDevice.h"

int CKinetor3DOFDevice::axisToCheckThisTime = -1;
int CKinetorCirrelDevice::axisToCheckThisTime = -1;

namespace {

// Lowest update frequency the model assumes; a rate not measured yet counts as this.
const float MIN_MODEL_RATE = 100.0f;

// Only a motor of a known type has the masses and thermal resistances the step divides
// by; for any other the fields are zero and there is nothing to model.
bool HasThermalModel(const _KINETOR_DEVICE_DATA* p, int k)
{
    return p->fMcu[k] > 0.0f && p->fMfe[k] > 0.0f && p->fRcf[k] > 0.0f && p->fRfa[k] > 0.0f &&
           p->fCcu > 0.0f && p->fCfe > 0.0f;
}

// Current of the last DAC value written to motor k, amperes.
float MotorCurrent(const _KINETOR_DEVICE_DATA* p, int k)
{
    return p->fApT[k] * (float)p->nMotorDACValues[k];
}

// One explicit step of the two nodes at update frequency f with winding power P. The
// body takes the heat flow computed before the winding changed.
void StepMotorTemperature(_KINETOR_DEVICE_DATA* p, int k, float fPower, float f)
{
    const float fQcf = (p->fTcu[k] - p->fTfe[k]) / p->fRcf[k];
    const float fQfa = (p->fTfe[k] - p->fTatm) / p->fRfa[k];
    p->fTcu[k] += (fPower - fQcf) / (p->fMcu[k] * p->fCcu * f);
    p->fTfe[k] += (fQcf - fQfa) / (p->fMfe[k] * p->fCfe * f);
}

// The per-motor frequency of the round-robin variants: each motor is visited every third
// call. Before the servo rate has been measured (0) the model would divide by zero and
// lose its temperatures to NaN for good; it then assumes the lowest model rate, which
// errs on the warm side at any faster real rate.
float RoundRobinFrequency(float fUpdateRate)
{
    const float fRate = (fUpdateRate > 0.0f && isfinite(fUpdateRate)) ? fUpdateRate : MIN_MODEL_RATE;
    return fRate / 3.0f;
}

int AdvanceAxis(int& nCounter)
{
    nCounter = nCounter + 1;
    if (nCounter >= 3 || nCounter < 0)
        nCounter = 0;
    return nCounter;
}

}  // namespace

int CKinetor3DOFDevice::CheckKinetorTemperature()
{
    _KINETOR_DEVICE_DATA* p = m_pDevData;
    const int k = AdvanceAxis(axisToCheckThisTime);
    if (!HasThermalModel(p, k))
        return 0;
    const float f = RoundRobinFrequency(p->fUpdateRate);
    const float I = MotorCurrent(p, k);
    const float fPower = I * I * p->fRcu[k];
    StepMotorTemperature(p, k, fPower, f);
    return (p->fTcu[k] > p->fTmax[k]) ? -1 : 0;
}

int CKinetor6DOFDevice::CheckKinetorTemperature()
{
    _KINETOR_DEVICE_DATA* p = m_pDevData;
    const float f = (p->fUpdateRate > MIN_MODEL_RATE) ? p->fUpdateRate : MIN_MODEL_RATE;
    for (int k = 0; k < 6; k++) {
        if (!HasThermalModel(p, k))
            continue;
        // Copper resistance rises with the winding temperature.
        const float R = p->fRcu[k] * (1.0f + p->fAcu * (p->fTcu[k] - p->fTatm));
        const float I = MotorCurrent(p, k);
        StepMotorTemperature(p, k, I * I * R, f);
        if (p->fTcu[k] > p->fTmax[k])
            return -1;
    }
    return 0;
}

float CKinetorCirrelDevice::MaxMotorCurrent(float fTcu)
{
    // Fit of the amplifier's current limit over the winding temperature: 1.55 A at 25 C,
    // falling as the winding warms.
    static const float s_fA0 = -0.0045f;
    static const float s_fA1 = 1.8214f;
    static const float s_fT1 = 216.3713f;
    static const float s_fA2 = 0.2669f;
    static const float s_fT2 = 19.7791f;
    const float x = fTcu - 25.0f;
    return s_fA0 + s_fA1 * expf(-x / s_fT1) - s_fA2 * expf(-x / s_fT2);
}

int CKinetorCirrelDevice::CheckKinetorTemperature()
{
    _KINETOR_DEVICE_DATA* p = m_pDevData;
    const int k = AdvanceAxis(axisToCheckThisTime);
    if (!HasThermalModel(p, k))
        return 0;
    const float f = RoundRobinFrequency(p->fUpdateRate);
    const float fImax = MaxMotorCurrent(p->fTcu[k]);
    float fIeff = fabsf(MotorCurrent(p, k));
    // Written so that a limit that is not a number (far outside the fitted range) leaves
    // no current rather than a NaN temperature.
    if (!(fIeff <= fImax))
        fIeff = fImax;
    if (!(fIeff >= 0.0f))
        fIeff = 0.0f;
    StepMotorTemperature(p, k, fIeff * fIeff * p->fRcu[k], f);
    // The amplifier caps the winding current, so the body is what limits this arm.
    return (p->fTfe[k] > p->fTmax[k]) ? -1 : 0;
}
