// The exported flat interface: each function checks the handle, finds the library object
// and forwards. Handles are slot numbers 0 to 19; appended slots are unreachable here.
#include "KinetorIO.h"
#include "KinetorVersion.h"

#include <stdio.h>
#include <string.h>

#include <initializer_list>
#include <new>

#include "config/KinetorDevice.h"
#include "config/KinetorMgr.h"
#include "core/IOLibAPI.h"
#include "core/ServoLoop.h"
#include "platform/KinetorMutex.h"

namespace {

const int kMaxHandle = 19;
const int kInvalidHandle = -11;
const float kInvalidHandleFloat = -11.0f;
// A null array where the operation reads or writes the caller's numbers.
const int kBadArgument = -9;
const int kMaxConfigs = 20;
// The name buffer of init_kinetor; a longer name is refused rather than cut, since a cut
// name could select a different configuration.
const size_t kNameBufferSize = 512;

CIOLibAPI* Lookup(int kinetor_id)
{
    if (kinetor_id < 0 || kinetor_id > kMaxHandle)
        return nullptr;
    if (kinetor_id >= CIOLibAPI::m_kinetorArray.GetSize())
        return nullptr;
    return static_cast<CIOLibAPI*>(CIOLibAPI::m_kinetorArray.GetAt(kinetor_id));
}

bool AllSet(std::initializer_list<const void*> apArrays)
{
    for (const void* pArray : apArrays) {
        if (pArray == nullptr)
            return false;
    }
    return true;
}

}  // namespace

// Shorthands for the common shapes: int result, float result, and int result of an
// operation on the caller's arrays (a null one is refused). Each operation holds the
// device's lock, so that the servo thread and the application's threads take turns.
#define KIO_FORWARD_INT(call)              \
    CIOLibAPI* p = Lookup(kinetor_id);     \
    if (p == nullptr)                      \
        return kInvalidHandle;             \
    CKinetorLock lock(p->m_mutexDevice);   \
    return p->call

#define KIO_FORWARD_FLOAT(call)            \
    CIOLibAPI* p = Lookup(kinetor_id);     \
    if (p == nullptr)                      \
        return kInvalidHandleFloat;        \
    CKinetorLock lock(p->m_mutexDevice);   \
    return p->call

#define KIO_FORWARD_ARRAYS(call, ...)      \
    CIOLibAPI* p = Lookup(kinetor_id);     \
    if (p == nullptr)                      \
        return kInvalidHandle;             \
    if (!AllSet({__VA_ARGS__}))            \
        return kBadArgument;               \
    CKinetorLock lock(p->m_mutexDevice);   \
    return p->call

extern "C" {

int init_kinetor(char* config_data_name)
{
    char szName[kNameBufferSize];
    if (config_data_name == nullptr)
        return -5;
    if (strlen(config_data_name) >= sizeof(szName))
        return -5;
    snprintf(szName, sizeof(szName), "%s", config_data_name);

    CIOLibAPI* p = new (std::nothrow) CIOLibAPI();
    if (p == nullptr)
        return -8;
    int r;
    try {
        r = p->InitKinetor(szName);
    } catch (...) {
        // Opening allocates the model and its connection; running out of memory there
        // must come back as a code, not unwind into a C caller.
        r = -8;
    }
    if (r < 0) {
        delete p;
        return r;
    }
    return r;
}

int disable_kinetor(int kinetor_id)
{
    // A running servo loop is held at its tick boundary, so that no tick uses the device
    // while it goes away; the loop then goes on with the devices still open.
    CServoLoopPause pause;
    CIOLibAPI* p = Lookup(kinetor_id);
    if (p == nullptr)
        return kInvalidHandle;
    int r;
    {
        CKinetorLock lock(p->m_mutexDevice);
        r = p->DisableKinetor();
    }
    delete p;
    return r;
}

const char* get_library_version(void) { return KIO_VERSION_STRING; }

const char* get_vendor_string(void) { return "Tandrel Technologies, Inc."; }

int get_kinetor_info(int kinetor_id, void* info, size_t size)
{
    CIOLibAPI* p = Lookup(kinetor_id);
    if (p == nullptr)
        return kInvalidHandle;
    if (info == nullptr && size != 0)
        return kBadArgument;
    CKinetorLock lock(p->m_mutexDevice);
    return p->GetKinetorInfo(static_cast<KINETOR_INFO_STRUCT*>(info), size);
}

int get_hardware_rev(int kinetor_id) { KIO_FORWARD_INT(GetHardwareRevNum()); }

const char* get_hardware_serial_number(int kinetor_id)
{
    CIOLibAPI* p = Lookup(kinetor_id);
    return p == nullptr ? nullptr : p->GetKinetorSerialNumber();
}

const char* get_kinetor_model_type(int kinetor_id)
{
    CIOLibAPI* p = Lookup(kinetor_id);
    return p == nullptr ? nullptr : p->GetKinetorModelType();
}

int kinetor_check_for_gimbal(int kinetor_id) { KIO_FORWARD_INT(CheckForGimbal()); }
int kinetor_check_for_pinch(int kinetor_id) { KIO_FORWARD_INT(CheckForPinch()); }
int kinetor_which_pinch(int kinetor_id) { KIO_FORWARD_INT(WhichPinch()); }

int update_kinetor(int kinetor_id) { KIO_FORWARD_INT(UpdateKinetor()); }
int kinetor_status(int kinetor_id) { KIO_FORWARD_INT(KinetorStatus()); }
int unfiltered_device_fault(int kinetor_id) { KIO_FORWARD_INT(GetUnfilteredDeviceFault()); }

int is_kinetor_reset_needed(const char** configFiles, int num, int* bReset)
{
    int nReset = 0;
    CKinetorMgr* pMgr = new (std::nothrow) CKinetorMgr();
    if (pMgr == nullptr) {
        if (bReset != nullptr)
            *bReset = 0;
        return 0;
    }
    CKinetorDevice* apDevices[kMaxConfigs];
    memset(apDevices, 0, sizeof(apDevices));
    int n = pMgr->EnumerateKinetors(apDevices);
    if (n > kMaxConfigs)
        n = kMaxConfigs;

    if (configFiles != nullptr) {
        for (int i = 0; i < num && nReset == 0; i++) {
            if (configFiles[i] == nullptr)
                continue;
            for (int j = 0; j < n; j++) {
                CKinetorDevice* pRecord = apDevices[j];
                if (pRecord == nullptr || strcmp(pRecord->m_szName, configFiles[i]) != 0)
                    continue;
                pRecord->Read();
                if (pRecord->m_nModelType != 3 && pRecord->m_nModelType != 5) {
                    nReset = 1;
                    break;
                }
            }
        }
    }
    if (bReset != nullptr)
        *bReset = nReset;

    for (int i = 0; i < kMaxConfigs; i++)
        delete apDevices[i];
    delete pMgr;
    return 0;
}

int is_kinetor_reset_supported(int kinetor_id) { KIO_FORWARD_INT(IsKinetorResetSupported()); }
int kinetor_reset(int kinetor_id) { KIO_FORWARD_INT(ResetKinetor()); }
int is_calibration_supported(int kinetor_id) { KIO_FORWARD_INT(IsCalibrationSupported()); }

int get_calibration_status(int kinetor_id, int* status)
{
    CIOLibAPI* p = Lookup(kinetor_id);
    if (p == nullptr)
        return 0;
    int nLocal = 0;
    int& rStatus = (status != nullptr) ? *status : nLocal;
    CKinetorLock lock(p->m_mutexDevice);
    return p->GetCalibrationStatus(rStatus);
}

int update_calibration(int kinetor_id)
{
    CIOLibAPI* p = Lookup(kinetor_id);
    if (p == nullptr)
        return 0;
    CKinetorLock lock(p->m_mutexDevice);
    return p->UpdateCalibration();
}

int set_kinetor_coordinate_system(int kinetor_id, float* origin, float* x_axis, float* y_axis,
                                  float* z_axis)
{
    KIO_FORWARD_ARRAYS(SetKinetorCoordinateSystem(origin, x_axis, y_axis, z_axis), origin, x_axis, y_axis, z_axis);
}

int get_kinetor_pos(int kinetor_id, float* pos) { KIO_FORWARD_ARRAYS(GetKinetorPos(pos), pos); }
int get_kinetor_vel(int kinetor_id, float* vel) { KIO_FORWARD_ARRAYS(GetKinetorVel(vel), vel); }
int get_kinetor_inst_vel(int kinetor_id, float* vel) { KIO_FORWARD_ARRAYS(GetKinetorInstVel(vel), vel); }
int get_kinetor_vel_6dof(int kinetor_id, float* vel) { KIO_FORWARD_ARRAYS(GetKinetorVel6DOF(vel), vel); }
float get_kinetor_rate(int kinetor_id) { KIO_FORWARD_FLOAT(GetKinetorRate()); }
float get_kinetor_inst_rate(int kinetor_id) { KIO_FORWARD_FLOAT(GetKinetorInstRate()); }
int get_stylus_switch(int kinetor_id, int switch_num)
{
    KIO_FORWARD_INT(GetStylusSwitch(switch_num));
}
int get_stylus_presence(int kinetor_id) { KIO_FORWARD_INT(GetStylusPresence()); }
int get_inkwell_switch(int kinetor_id) { KIO_FORWARD_INT(GetInkwellSwitch()); }
int get_stylus_matrix(int kinetor_id, float T[4][4]) { KIO_FORWARD_ARRAYS(GetStylusMatrix(T), T); }
int get_kinetor_joint_angles(int kinetor_id, float* joint_angles)
{
    KIO_FORWARD_ARRAYS(GetJointAngles(joint_angles), joint_angles);
}
int get_kinetor_encoders(int kinetor_id, float* theta) { KIO_FORWARD_ARRAYS(GetKinetorEncoders(theta), theta); }
int get_kinetor_encoders_6dof(int kinetor_id, float* theta)
{
    KIO_FORWARD_ARRAYS(GetKinetorEncoders6DOF(theta), theta);
}
int get_gimbal_encoders(int kinetor_id, float* theta) { KIO_FORWARD_ARRAYS(GetGimbalEncoders(theta), theta); }
int get_encoder_values(int kinetor_id, long* encoders)
{
    KIO_FORWARD_ARRAYS(GetEncoderValues(encoders), encoders);
}
int get_kinetor_jacobian(int kinetor_id, double T[6][6]) { KIO_FORWARD_ARRAYS(GetKinetorJacobian(T), T); }
int calc_joint_angles_from_enc(int kinetor_id, long* enc, float* jointAngles)
{
    KIO_FORWARD_ARRAYS(CalculateJointAngles(enc, jointAngles), enc, jointAngles);
}
int calc_endpoint_from_joint(int kinetor_id, float* jointAngles, float T[4][4])
{
    KIO_FORWARD_ARRAYS(CalculateEndpointTransform(jointAngles, T), jointAngles, T);
}

int set_joint_angle_references(int kinetor_id, float* jointAngles)
{
    (void)jointAngles;
    return Lookup(kinetor_id) == nullptr ? kInvalidHandle : 1;
}

int get_kinetor_temp(int kinetor_id, float* temperature)
{
    KIO_FORWARD_ARRAYS(GetKinetorTemp(temperature), temperature);
}
int get_kinetor_temp_normalized(int kinetor_id, float* temperature)
{
    KIO_FORWARD_ARRAYS(GetKinetorTempNormalized(temperature), temperature);
}
int get_kinetor_temp_6dof(int kinetor_id, float* temperature)
{
    KIO_FORWARD_ARRAYS(GetKinetorTemp6DOF(temperature), temperature);
}
int get_kinetor_temp_normalized_6dof(int kinetor_id, float* temperature)
{
    KIO_FORWARD_ARRAYS(GetKinetorTempNormalized6DOF(temperature), temperature);
}

float get_kinetor_nominal_max_stiffness(int kinetor_id)
{
    KIO_FORWARD_FLOAT(GetKinetorNominalMaxStiffness());
}
float get_kinetor_nominal_max_damping(int kinetor_id)
{
    KIO_FORWARD_FLOAT(GetKinetorNominalMaxDamping());
}
float get_kinetor_nominal_max_force(int kinetor_id) { KIO_FORWARD_FLOAT(GetKinetorNominalMaxForce()); }
float get_kinetor_nominal_max_continuous_force(int kinetor_id)
{
    KIO_FORWARD_FLOAT(GetKinetorNominalMaxContinuousForce());
}
float get_kinetor_nominal_max_torque_stiffness(int kinetor_id)
{
    KIO_FORWARD_FLOAT(GetKinetorNominalMaxTorqueStiffness());
}
float get_kinetor_nominal_max_torque_damping(int kinetor_id)
{
    KIO_FORWARD_FLOAT(GetKinetorNominalMaxTorqueDamping());
}
float get_kinetor_nominal_max_torque_force(int kinetor_id)
{
    KIO_FORWARD_FLOAT(GetKinetorNominalMaxTorqueForce());
}
float get_kinetor_nominal_max_torque_continuous_force(int kinetor_id)
{
    KIO_FORWARD_FLOAT(GetKinetorNominalMaxTorqueContinuousForce());
}

int set_kinetor_max_velocity(int kinetor_id, float max_vel)
{
    KIO_FORWARD_INT(SetKinetorMaxVelocity(max_vel));
}
float get_kinetor_max_velocity(int kinetor_id) { KIO_FORWARD_FLOAT(GetKinetorMaxVelocity()); }
int enable_kinetor_velocity_check(int kinetor_id, int enable)
{
    KIO_FORWARD_INT(EnableKinetorVelocityCheck((BOOLEAN)(enable & 0xFF)));
}
int is_kinetor_velocity_check_enabled(int kinetor_id)
{
    KIO_FORWARD_INT(IsKinetorVelocityCheckEnabled());
}
int enable_kinetor_force_check(int kinetor_id, int enable)
{
    KIO_FORWARD_INT(EnableKinetorForceCheck((BOOLEAN)(enable & 0xFF)));
}
int is_kinetor_force_check_enabled(int kinetor_id) { KIO_FORWARD_INT(IsKinetorForceCheckEnabled()); }
int set_kinetor_ramp_forces_rate(int kinetor_id, float rate)
{
    KIO_FORWARD_INT(SetKinetorRampForcesRate(rate));
}
float get_kinetor_ramp_forces_rate(int kinetor_id) { KIO_FORWARD_FLOAT(GetKinetorRampForcesRate()); }
int enable_kinetor_ramp_forces(int kinetor_id, int enable)
{
    KIO_FORWARD_INT(EnableKinetorRampForces((BOOLEAN)(enable & 0xFF)));
}
int is_kinetor_ramp_forces_enabled(int kinetor_id) { KIO_FORWARD_INT(IsKinetorRampForcesEnabled()); }
int set_kinetor_force_kick_safety(int kinetor_id, float limit)
{
    KIO_FORWARD_INT(SetKinetorForceKickSafety(limit));
}
float get_kinetor_force_kick_safety(int kinetor_id)
{
    KIO_FORWARD_FLOAT(GetKinetorForceKickSafety());
}
int enable_kinetor_force_kick_safety(int kinetor_id, int enable)
{
    KIO_FORWARD_INT(EnableKinetorForceKickSafety((BOOLEAN)(enable & 0xFF)));
}
int is_kinetor_force_kick_safety_enabled(int kinetor_id)
{
    KIO_FORWARD_INT(IsKinetorForceKickSafetyEnabled());
}
int zero_force_saturation(int kinetor_id) { KIO_FORWARD_INT(ZeroForceSaturation()); }
int truncate_force_saturation(int kinetor_id) { KIO_FORWARD_INT(TruncateForceSaturation()); }
int is_force_saturation_enabled(int kinetor_id) { KIO_FORWARD_INT(IsKinetorSaturationEnabled()); }

// Enabling takes the device's lock itself, step by step: the watchdog handshake may last
// three seconds, and the servo thread must go on ticking meanwhile.
int enable_kinetor_forces(int kinetor_id)
{
    CIOLibAPI* p = Lookup(kinetor_id);
    return p == nullptr ? kInvalidHandle : p->EnableKinetorForces(1);
}
int enable_kinetor_forces_no_wait(int kinetor_id)
{
    CIOLibAPI* p = Lookup(kinetor_id);
    return p == nullptr ? kInvalidHandle : p->EnableKinetorForces(0);
}
int disable_kinetor_forces(int kinetor_id) { KIO_FORWARD_INT(DisableKinetorForces()); }
int disable_kinetor_forces_no_wait(int kinetor_id) { KIO_FORWARD_INT(DisableKinetorForces()); }
int is_kinetor_forces_enabled(int kinetor_id) { KIO_FORWARD_INT(IsKinetorForcesEnabled()); }
int send_kinetor_force(int kinetor_id, float* f) { KIO_FORWARD_ARRAYS(SendKinetorForce(f), f); }
int send_kinetor_force_6dof(int kinetor_id, float* forces_and_torques)
{
    KIO_FORWARD_ARRAYS(SendKinetorForce6DOF(forces_and_torques), forces_and_torques);
}
int write_kinetor_joint_torques(int kinetor_id) { KIO_FORWARD_INT(WriteKinetorJointTorques()); }
int send_kinetor_joint_torques(int kinetor_id, float* joints_torques)
{
    KIO_FORWARD_ARRAYS(SendKinetorJointTorques(joints_torques), joints_torques);
}
int command_motor_dac_values(int kinetor_id, long* dacvalues)
{
    KIO_FORWARD_ARRAYS(CommandMotorDACValues(dacvalues), dacvalues);
}
int command_motor_voltages(int kinetor_id, float* volts_commanded, float* volts_sent)
{
    KIO_FORWARD_ARRAYS(CommandMotorVoltages(volts_commanded, volts_sent), volts_commanded, volts_sent);
}
int get_kinetor_stuck_pos(int kinetor_id, float* stuck_position)
{
    KIO_FORWARD_ARRAYS(GetKinetorStuckPos(stuck_position), stuck_position);
}
int set_kinetor_stuck_pos(int kinetor_id, float* stuck_position)
{
    KIO_FORWARD_ARRAYS(SetKinetorStuckPos(stuck_position), stuck_position);
}
int calc_kinetor_friction(int kinetor_id, float* friction_force, float* force, float friction,
                          float threshold, float stuck_move)
{
    KIO_FORWARD_ARRAYS(CalcKinetorFriction(friction_force, force, friction, threshold, stuck_move), friction_force, force);
}

double get_pinch_value(int kinetor_id)
{
    CIOLibAPI* p = Lookup(kinetor_id);
    if (p == nullptr)
        return -11.0;
    CKinetorLock lock(p->m_mutexDevice);
    return p->GetPinchValue();
}

int set_pinch_limits(int kinetor_id, int min, int max)
{
    CIOLibAPI* p = Lookup(kinetor_id);
    if (p == nullptr)
        return kInvalidHandle;
    CKinetorLock lock(p->m_mutexDevice);
    p->SetPinchLimits(min, max);
    return 0;
}

int is_pinch_calibrated(int kinetor_id) { KIO_FORWARD_INT(IsPinchCalibrated()); }
int override_status_light(int kinetor_id, int status) { KIO_FORWARD_INT(OverrideStatusLight(status)); }
int restore_status_light(int kinetor_id) { KIO_FORWARD_INT(RestoreStatusLight()); }
int is_status_light_enabled(int kinetor_id) { KIO_FORWARD_INT(IsStatusLightEnabled()); }
int get_status_light(int kinetor_id) { KIO_FORWARD_INT(ReadStatusLight()); }

}  // extern "C"

_KINETOR_DEVICE_DATA* get_member_data(int kinetor_id)
{
    CIOLibAPI* p = Lookup(kinetor_id);
    return p == nullptr ? nullptr : p->GetMemberData();
}

void* get_connection_data(int kinetor_id)
{
    CIOLibAPI* p = Lookup(kinetor_id);
    return p == nullptr ? nullptr : p->GetConnectionData();
}
