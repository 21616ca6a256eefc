/* The device access interface of libKinetorIO. A device is opened by the name of its
 * configuration and named afterwards by a small integer handle (kinetor_id, 0 to 19).
 * Every function that takes a handle reports an invalid one with -11 (-11.0 for float
 * and double results, null for pointer results, 0 from get_calibration_status and
 * update_calibration) and has no other effect then.
 * This header compiles as C and as C++. */
#ifndef KINETOR_IO_H
#define KINETOR_IO_H

#include <stddef.h>

#include "KinetorTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One workspace box in the device's coordinates. */
typedef struct _KINETOR_DIMENSIONS {
    int xMin;
    int xMax;
    int yMin;
    int yMax;
    int zMin;
    int zMax;
} KINETOR_DIMENSIONS;

/* Copied out by get_kinetor_info; callers may ask for a prefix of it only. */
typedef struct _KINETOR_INFO_STRUCT {
    int hasGimbal;
    int is6DOF;
    int isBravis;
    int is1394Device;
    KINETOR_DIMENSIONS maxWorkspace;
    KINETOR_DIMENSIONS maxUsableWorkspace;
    KINETOR_DIMENSIONS cubeWorkspace;
    int tableTopOffset;
    int extra6DOFOption;
} KINETOR_INFO_STRUCT;

/* The per-device state record; its layout is the library's own business. */
struct _KINETOR_DEVICE_DATA;

/* Handle type of the 6-DOF stylus in use; shared with the configuration program. */
KINETOR_EXPORT extern short globalExtra6DOFOption;

/* Lifecycle and identification */
KINETOR_EXPORT int init_kinetor(char* config_data_name);
KINETOR_EXPORT int disable_kinetor(int kinetor_id);
KINETOR_EXPORT const char* get_library_version(void);
KINETOR_EXPORT const char* get_vendor_string(void);
KINETOR_EXPORT int get_kinetor_info(int kinetor_id, void* info, size_t size);
KINETOR_EXPORT int get_hardware_rev(int kinetor_id);
KINETOR_EXPORT const char* get_hardware_serial_number(int kinetor_id);
KINETOR_EXPORT const char* get_kinetor_model_type(int kinetor_id);
KINETOR_EXPORT int kinetor_check_for_gimbal(int kinetor_id);
KINETOR_EXPORT int kinetor_check_for_pinch(int kinetor_id);
KINETOR_EXPORT int kinetor_which_pinch(int kinetor_id);

/* Per-tick update and status */
KINETOR_EXPORT int update_kinetor(int kinetor_id);
KINETOR_EXPORT int kinetor_status(int kinetor_id);
KINETOR_EXPORT int unfiltered_device_fault(int kinetor_id);

/* Reset and calibration */
KINETOR_EXPORT int is_kinetor_reset_needed(const char** configFiles, int num, int* bReset);
KINETOR_EXPORT int is_kinetor_reset_supported(int kinetor_id);
KINETOR_EXPORT int kinetor_reset(int kinetor_id);
KINETOR_EXPORT int is_calibration_supported(int kinetor_id);
KINETOR_EXPORT int get_calibration_status(int kinetor_id, int* status);
KINETOR_EXPORT int update_calibration(int kinetor_id);

/* State readers */
KINETOR_EXPORT int set_kinetor_coordinate_system(int kinetor_id, float* origin, float* x_axis,
                                                 float* y_axis, float* z_axis);
KINETOR_EXPORT int get_kinetor_pos(int kinetor_id, float* pos);
KINETOR_EXPORT int get_kinetor_vel(int kinetor_id, float* vel);
KINETOR_EXPORT int get_kinetor_inst_vel(int kinetor_id, float* vel);
KINETOR_EXPORT int get_kinetor_vel_6dof(int kinetor_id, float* vel);
KINETOR_EXPORT float get_kinetor_rate(int kinetor_id);
KINETOR_EXPORT float get_kinetor_inst_rate(int kinetor_id);
KINETOR_EXPORT int get_stylus_switch(int kinetor_id, int switch_num);
KINETOR_EXPORT int get_stylus_presence(int kinetor_id);
KINETOR_EXPORT int get_inkwell_switch(int kinetor_id);
KINETOR_EXPORT int get_stylus_matrix(int kinetor_id, float T[4][4]);
KINETOR_EXPORT int get_kinetor_joint_angles(int kinetor_id, float* joint_angles);
KINETOR_EXPORT int get_kinetor_encoders(int kinetor_id, float* theta);
KINETOR_EXPORT int get_kinetor_encoders_6dof(int kinetor_id, float* theta);
KINETOR_EXPORT int get_gimbal_encoders(int kinetor_id, float* theta);
KINETOR_EXPORT int get_encoder_values(int kinetor_id, long* encoders);
KINETOR_EXPORT int get_kinetor_jacobian(int kinetor_id, double T[6][6]);
KINETOR_EXPORT int calc_joint_angles_from_enc(int kinetor_id, long* enc, float* jointAngles);
KINETOR_EXPORT int calc_endpoint_from_joint(int kinetor_id, float* jointAngles, float T[4][4]);
KINETOR_EXPORT int set_joint_angle_references(int kinetor_id, float* jointAngles);
KINETOR_EXPORT int get_kinetor_temp(int kinetor_id, float* temperature);
KINETOR_EXPORT int get_kinetor_temp_normalized(int kinetor_id, float* temperature);
KINETOR_EXPORT int get_kinetor_temp_6dof(int kinetor_id, float* temperature);
KINETOR_EXPORT int get_kinetor_temp_normalized_6dof(int kinetor_id, float* temperature);

/* Nominal limits from the configuration */
KINETOR_EXPORT float get_kinetor_nominal_max_stiffness(int kinetor_id);
KINETOR_EXPORT float get_kinetor_nominal_max_damping(int kinetor_id);
KINETOR_EXPORT float get_kinetor_nominal_max_force(int kinetor_id);
KINETOR_EXPORT float get_kinetor_nominal_max_continuous_force(int kinetor_id);
KINETOR_EXPORT float get_kinetor_nominal_max_torque_stiffness(int kinetor_id);
KINETOR_EXPORT float get_kinetor_nominal_max_torque_damping(int kinetor_id);
KINETOR_EXPORT float get_kinetor_nominal_max_torque_force(int kinetor_id);
KINETOR_EXPORT float get_kinetor_nominal_max_torque_continuous_force(int kinetor_id);

/* Safety settings; the enable arguments travel on as one byte (their low 8 bits). */
KINETOR_EXPORT int set_kinetor_max_velocity(int kinetor_id, float max_vel);
KINETOR_EXPORT float get_kinetor_max_velocity(int kinetor_id);
KINETOR_EXPORT int enable_kinetor_velocity_check(int kinetor_id, int enable);
KINETOR_EXPORT int is_kinetor_velocity_check_enabled(int kinetor_id);
KINETOR_EXPORT int enable_kinetor_force_check(int kinetor_id, int enable);
KINETOR_EXPORT int is_kinetor_force_check_enabled(int kinetor_id);
KINETOR_EXPORT int set_kinetor_ramp_forces_rate(int kinetor_id, float rate);
KINETOR_EXPORT float get_kinetor_ramp_forces_rate(int kinetor_id);
KINETOR_EXPORT int enable_kinetor_ramp_forces(int kinetor_id, int enable);
KINETOR_EXPORT int is_kinetor_ramp_forces_enabled(int kinetor_id);
KINETOR_EXPORT int set_kinetor_force_kick_safety(int kinetor_id, float limit);
KINETOR_EXPORT float get_kinetor_force_kick_safety(int kinetor_id);
KINETOR_EXPORT int enable_kinetor_force_kick_safety(int kinetor_id, int enable);
KINETOR_EXPORT int is_kinetor_force_kick_safety_enabled(int kinetor_id);
KINETOR_EXPORT int zero_force_saturation(int kinetor_id);
KINETOR_EXPORT int truncate_force_saturation(int kinetor_id);
KINETOR_EXPORT int is_force_saturation_enabled(int kinetor_id);

/* Force output */
KINETOR_EXPORT int enable_kinetor_forces(int kinetor_id);
KINETOR_EXPORT int enable_kinetor_forces_no_wait(int kinetor_id);
KINETOR_EXPORT int disable_kinetor_forces(int kinetor_id);
KINETOR_EXPORT int disable_kinetor_forces_no_wait(int kinetor_id);
KINETOR_EXPORT int is_kinetor_forces_enabled(int kinetor_id);
KINETOR_EXPORT int send_kinetor_force(int kinetor_id, float* f);
KINETOR_EXPORT int send_kinetor_force_6dof(int kinetor_id, float* forces_and_torques);
KINETOR_EXPORT int write_kinetor_joint_torques(int kinetor_id);
KINETOR_EXPORT int send_kinetor_joint_torques(int kinetor_id, float* joints_torques);
KINETOR_EXPORT int command_motor_dac_values(int kinetor_id, long* dacvalues);
KINETOR_EXPORT int command_motor_voltages(int kinetor_id, float* volts_commanded, float* volts_sent);
KINETOR_EXPORT int get_kinetor_stuck_pos(int kinetor_id, float* stuck_position);
KINETOR_EXPORT int set_kinetor_stuck_pos(int kinetor_id, float* stuck_position);
KINETOR_EXPORT int calc_kinetor_friction(int kinetor_id, float* friction_force, float* force,
                                         float friction, float threshold, float stuck_move);

/* Pinch grip and status light */
KINETOR_EXPORT double get_pinch_value(int kinetor_id);
KINETOR_EXPORT int set_pinch_limits(int kinetor_id, int min, int max);
KINETOR_EXPORT int is_pinch_calibrated(int kinetor_id);
KINETOR_EXPORT int override_status_light(int kinetor_id, int status);
KINETOR_EXPORT int restore_status_light(int kinetor_id);
KINETOR_EXPORT int is_status_light_enabled(int kinetor_id);
KINETOR_EXPORT int get_status_light(int kinetor_id);

#ifdef __cplusplus
}

/* These two keep C++ linkage: applications built against earlier releases link them
 * under names that carry the parameter type. */
KINETOR_EXPORT struct _KINETOR_DEVICE_DATA* get_member_data(int kinetor_id);
KINETOR_EXPORT void* get_connection_data(int kinetor_id);
#else
/* get_member_data and get_connection_data are reachable from C++ only. */
#endif

#endif
