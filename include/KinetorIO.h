/* The device access interface of libKinetorIO. A device is opened by the name of its
 * configuration and named afterwards by a small integer handle (kinetor_id, 0 to 19).
 * Every function that takes a handle reports an invalid one with -11 (-11.0 for float
 * and double results, null for pointer results, 0 from get_calibration_status and
 * update_calibration) and has no other effect then.
 * This header compiles as C and as C++. */
/** @file
 * @brief The device access interface.
 * @ingroup flatapi */
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
/** Opens the device of a configuration and returns its handle.
 * @param config_data_name name of the configuration (at most 511 characters, never null);
 *        "" opens the first configuration found.
 * @return the handle, 0 to 19; -5 configuration not found, unreadable or malformed, name too
 *         long, unknown model, channel above 3, FireWire unit not found; -8 no device model
 *         or out of memory; -10 transport not reachable; -21, -22, -24, -25, -29, -30, -32
 *         from the interface (see the result codes). Nothing stays open on failure.
 * @thread An application thread; not the servo thread. */
KINETOR_EXPORT int init_kinetor(char* config_data_name);
/** Closes a device: forces off, motor temperatures saved, handle freed for reuse.
 * @param kinetor_id device handle from init_kinetor()
 * @return 0, -11 invalid handle, or the error of switching the amplifiers off (the device is
 *         closed all the same).
 * @thread Any thread, also while the servo loop runs: waits for the current tick to end (at
 *         most one servo period); the loop goes on with the devices still open and ends after
 *         the last one. */
KINETOR_EXPORT int disable_kinetor(int kinetor_id);
/** @return the library version, "major.minor.patch", a constant string.
 * @thread Any thread. */
KINETOR_EXPORT const char* get_library_version(void);
/** @return the vendor's name, a constant string.
 * @thread Any thread. */
KINETOR_EXPORT const char* get_vendor_string(void);
/** Copies the device's KINETOR_INFO_STRUCT (or its first bytes) to the caller.
 * @param kinetor_id device handle from init_kinetor()
 * @param info where to copy; may be null only when size is 0
 * @param size bytes to copy; more than sizeof(KINETOR_INFO_STRUCT) copies the whole record
 * @return 0, -9 null info with a size, -11 invalid handle.
 * @thread Any thread. */
KINETOR_EXPORT int get_kinetor_info(int kinetor_id, void* info, size_t size);
/** @param kinetor_id device handle from init_kinetor()
 * @return the hardware revision the interface reports, or -11.
 * @thread Any thread. */
KINETOR_EXPORT int get_hardware_rev(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return the serial number of the device as text (owned by the library, valid until the
 *         device is closed), or null for an invalid handle.
 * @thread Any thread. */
KINETOR_EXPORT const char* get_hardware_serial_number(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return the model type of the configuration as text ("a", "t", "p", "p6", "cirrel"; owned
 *         by the library, valid until the device is closed), or null for an invalid handle.
 * @thread Any thread. */
KINETOR_EXPORT const char* get_kinetor_model_type(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return 1 when the device has a gimbal (encoders beyond the first three joints), 0 when
 *         not, -11.
 * @thread Any thread. */
KINETOR_EXPORT int kinetor_check_for_gimbal(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return 1 when the 6-DOF stylus is a pinch grip (handle type 1 or 2), 0 when not, -11.
 * @thread Any thread. */
KINETOR_EXPORT int kinetor_check_for_pinch(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return the handle type of the 6-DOF stylus (see globalExtra6DOFOption), or -11.
 * @thread Any thread. */
KINETOR_EXPORT int kinetor_which_pinch(int kinetor_id);

/* Per-tick update and status */
/** The per-tick update: exchanges one block with the hardware, recomputes joint angles,
 * stylus pose, Jacobian and velocity, debounces the switches (10 updates) and checks the
 * maximum velocity. Call it once per tick, before reading state or sending forces.
 * @param kinetor_id device handle from init_kinetor()
 * @return 0; -13 maximum velocity exceeded (forces switched off; not reported in the first
 *         101 updates after opening, reset, calibration or enabling forces), a gimbal joint
 *         too fast or a speed error; -28 or -31 communication lost; -11; other negative codes
 *         of the device model.
 * @thread The servo thread, in the tick callback. */
KINETOR_EXPORT int update_kinetor(int kinetor_id);
/** The device's fault status as the force path sees it: a fault counts once the device
 * has reported it on 16 consecutive updates.
 * @param kinetor_id device handle from init_kinetor()
 * @return 0 when there is no fault, otherwise the fault's code (such as -2 device fault,
 *         -13 speed error, -28 or -31 link lost); -11.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int kinetor_status(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return the fault the device reported in the last update, unfiltered (0 when none), or -11.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int unfiltered_device_fault(int kinetor_id);

/* Reset and calibration */
/** Tells, without opening anything, whether any of the named configurations is of a model
 * that must be homed with kinetor_reset() before forces can be enabled (all but Bravis and
 * Cirrel).
 * @param configFiles names of configurations; null entries are skipped
 * @param num number of entries in configFiles
 * @param bReset receives 1 when a reset is needed, 0 when not; may be null
 * @return 0.
 * @thread An application thread. */
KINETOR_EXPORT int is_kinetor_reset_needed(const char** configFiles, int num, int* bReset);
/** @param kinetor_id device handle from init_kinetor()
 * @return 1 when the model is homed at its reset pose with kinetor_reset() (Altura models),
 *         0 when not, -11.
 * @thread Any thread. */
KINETOR_EXPORT int is_kinetor_reset_supported(int kinetor_id);
/** Homes the arm at its reset pose: the present pose becomes the configured reset joint
 * angles, the watchdog is confirmed and the force ramp starts again. Hold the arm at its
 * reset pose while calling.
 * @param kinetor_id device handle from init_kinetor()
 * @return 0; -4 the watchdog was not confirmed or the device fault would not clear; -10 not
 *         supported for this model; -11; codes of the interface.
 * @thread An application thread, before the servo loop starts or from the tick callback. */
KINETOR_EXPORT int kinetor_reset(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return 1 when the model calibrates with its home sensors (Bravis, Cirrel), 0 when not, -11.
 * @thread Any thread. */
KINETOR_EXPORT int is_calibration_supported(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @param status receives the device model's calibration state; may be null
 * @return the device model's calibration result; 0 for an invalid handle.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int get_calibration_status(int kinetor_id, int* status);
/** Advances the home-sensor calibration by one step from the last update.
 * @param kinetor_id device handle from init_kinetor()
 * @return the device model's result; 0 for an invalid handle.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int update_calibration(int kinetor_id);

/* State readers */
/** Sets the application's coordinate frame, in which get_kinetor_pos() and
 * get_stylus_matrix() report and send_kinetor_force() takes its forces.
 * @param kinetor_id device handle from init_kinetor()
 * @param origin the frame's origin in device coordinates, mm (3 values)
 * @param x_axis the frame's x axis in device coordinates (3 values; normalised here)
 * @param y_axis the frame's y axis (3 values)
 * @param z_axis the frame's z axis (3 values)
 * @return 0; -9 a null array, or an axis that is zero, not finite or parallel to another (the
 *         previous frame stays); -11.
 * @thread Before the servo loop starts, or from the tick callback. */
KINETOR_EXPORT int set_kinetor_coordinate_system(int kinetor_id, float* origin, float* x_axis,
                                                 float* y_axis, float* z_axis);
/** @param kinetor_id device handle from init_kinetor()
 * @param pos receives the stylus tip position, mm, in the application's frame (3 values)
 * @return 0, -9 null pos, -11.
 * @thread The servo thread, after update_kinetor(); elsewhere the value may be of another
 *         tick. */
KINETOR_EXPORT int get_kinetor_pos(int kinetor_id, float* pos);
/** @param kinetor_id device handle from init_kinetor()
 * @param vel receives the filtered stylus velocity, mm/s, device frame (3 values)
 * @return 0, -9 null vel, -11.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int get_kinetor_vel(int kinetor_id, float* vel);
/** @param kinetor_id device handle from init_kinetor()
 * @param vel receives the stylus velocity, mm/s, device frame (3 values); the same figures
 *        as get_kinetor_vel()
 * @return 0, -9 null vel, -11.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int get_kinetor_inst_vel(int kinetor_id, float* vel);
/** @param kinetor_id device handle from init_kinetor()
 * @param vel receives the velocity, mm/s, then the angular velocity, rad/s, of a 6-DOF
 *        device (zeros for other models) (6 values)
 * @return 0, -9 null vel, -11.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int get_kinetor_vel_6dof(int kinetor_id, float* vel);
/** @param kinetor_id device handle from init_kinetor()
 * @return the achieved update rate, Hz, averaged over recent ticks; -11.0 for an invalid
 *         handle.
 * @thread Any thread. */
KINETOR_EXPORT float get_kinetor_rate(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return the update rate of the last tick, Hz; -11.0 for an invalid handle.
 * @thread Any thread. */
KINETOR_EXPORT float get_kinetor_inst_rate(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @param switch_num 0 or 1; other numbers read as released
 * @return 1 pressed, 0 released (debounced), -11.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int get_stylus_switch(int kinetor_id, int switch_num);
/** @param kinetor_id device handle from init_kinetor()
 * @return 1 when a hand is on the stylus (debounced), 0 when not, -11.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int get_stylus_presence(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return 1 when the stylus sits in the inkwell (debounced), 0 when not, -11.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int get_inkwell_switch(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @param T receives the stylus frame: row-major 4x4, rotation in rows 0 to 2, translation
 *        (mm) in row 3, in the application's frame
 * @return 0, -3 no gimbal, -9 null T, -11.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int get_stylus_matrix(int kinetor_id, float T[4][4]);
/** @param kinetor_id device handle from init_kinetor()
 * @param joint_angles receives the six joint angles, rad (gimbal angles 0 without a gimbal)
 * @return 0, -9 null array, -11.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int get_kinetor_joint_angles(int kinetor_id, float* joint_angles);
/** @param kinetor_id device handle from init_kinetor()
 * @param theta receives the three base motor angles, rad: joint 0, joint 1, joint 1 + joint 2
 * @return 0, -9 null array, -11.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int get_kinetor_encoders(int kinetor_id, float* theta);
/** @param kinetor_id device handle from init_kinetor()
 * @param theta receives six motor angles, rad: as get_kinetor_encoders() but the third
 *        shifted by pi/2, then the three gimbal joints of a 6-DOF device (zeros otherwise)
 * @return 0, -9 null array, -11.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int get_kinetor_encoders_6dof(int kinetor_id, float* theta);
/** @param kinetor_id device handle from init_kinetor()
 * @param theta receives the three gimbal joint angles, rad
 * @return 0, -3 no gimbal, -9 null array, -11.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int get_gimbal_encoders(int kinetor_id, float* theta);
/** @param kinetor_id device handle from init_kinetor()
 * @param encoders receives the raw encoder counts: 3 values, 6 with a gimbal
 * @return 0, -9 null array, -11.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int get_encoder_values(int kinetor_id, long* encoders);
/** @param kinetor_id device handle from init_kinetor()
 * @param T receives the 6x6 Jacobian of the last update (joint rates to stylus velocity)
 * @return 0, -9 null T, -11.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int get_kinetor_jacobian(int kinetor_id, double T[6][6]);
/** Computes joint angles from encoder counts without touching the device state.
 * @param kinetor_id device handle from init_kinetor()
 * @param enc encoder counts (3, or 6 with a gimbal)
 * @param jointAngles receives the joint angles, rad (6 values)
 * @return 0 or the device model's error, -9 a null array, -11.
 * @thread Any thread. */
KINETOR_EXPORT int calc_joint_angles_from_enc(int kinetor_id, long* enc, float* jointAngles);
/** Computes the stylus frame for joint angles without touching the device state.
 * @param kinetor_id device handle from init_kinetor()
 * @param jointAngles joint angles, rad (6 values)
 * @param T receives the frame, row-major 4x4, translation (mm) in row 3, device frame
 * @return 0 or the device model's error, -9 a null array, -11.
 * @thread Any thread. */
KINETOR_EXPORT int calc_endpoint_from_joint(int kinetor_id, float* jointAngles, float T[4][4]);
/** Kept for older applications; does nothing.
 * @param kinetor_id device handle from init_kinetor()
 * @param jointAngles ignored
 * @return 1 for an open handle, -11.
 * @thread Any thread. */
KINETOR_EXPORT int set_joint_angle_references(int kinetor_id, float* jointAngles);
/** @param kinetor_id device handle from init_kinetor()
 * @param temperature receives the modelled temperatures of the three base motors, degrees
 *        Celsius
 * @return 0, -9 null array, -11.
 * @thread Any thread. */
KINETOR_EXPORT int get_kinetor_temp(int kinetor_id, float* temperature);
/** @param kinetor_id device handle from init_kinetor()
 * @param temperature receives the three base motors' temperatures scaled so that 0 is the
 *        ambient temperature and 1 the motor's limit
 * @return 0, -9 null array, -11.
 * @thread Any thread. */
KINETOR_EXPORT int get_kinetor_temp_normalized(int kinetor_id, float* temperature);
/** @param kinetor_id device handle from init_kinetor()
 * @param temperature receives the modelled temperatures of six motors, degrees Celsius
 * @return 0, -9 null array, -11.
 * @thread Any thread. */
KINETOR_EXPORT int get_kinetor_temp_6dof(int kinetor_id, float* temperature);
/** @param kinetor_id device handle from init_kinetor()
 * @param temperature receives six motors' temperatures, 0 ambient and 1 the limit (only
 *        the first three are scaled on models other than the Altura 6 DOF)
 * @return 0, -9 null array, -11.
 * @thread Any thread. */
KINETOR_EXPORT int get_kinetor_temp_normalized_6dof(int kinetor_id, float* temperature);

/* Nominal limits from the configuration */
/** @param kinetor_id device handle from init_kinetor()
 * @return the largest stiffness of a virtual spring the arm renders stably, N/mm, from the configuration; -11.0 for an invalid handle.
 * @thread Any thread. */
KINETOR_EXPORT float get_kinetor_nominal_max_stiffness(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return the largest damping the arm renders stably, N s/mm, from the configuration; -11.0 for an invalid handle.
 * @thread Any thread. */
KINETOR_EXPORT float get_kinetor_nominal_max_damping(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return the largest force the arm exerts, N, from the configuration; -11.0 for an invalid handle.
 * @thread Any thread. */
KINETOR_EXPORT float get_kinetor_nominal_max_force(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return the force the arm can hold without overheating, N, from the configuration; -11.0 for an invalid handle.
 * @thread Any thread. */
KINETOR_EXPORT float get_kinetor_nominal_max_continuous_force(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return the largest rotational stiffness of the 6-DOF gimbal, N mm/rad, from the configuration (0 when it gives none); -11.0 for an invalid handle.
 * @thread Any thread. */
KINETOR_EXPORT float get_kinetor_nominal_max_torque_stiffness(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return the largest rotational damping of the 6-DOF gimbal, N mm s/rad, from the configuration (0 when it gives none); -11.0 for an invalid handle.
 * @thread Any thread. */
KINETOR_EXPORT float get_kinetor_nominal_max_torque_damping(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return the largest torque of the 6-DOF gimbal, N mm, from the configuration (0 when it gives none); -11.0 for an invalid handle.
 * @thread Any thread. */
KINETOR_EXPORT float get_kinetor_nominal_max_torque_force(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return the torque the 6-DOF gimbal can hold without overheating, N mm, from the configuration (0 when it gives none); -11.0 for an invalid handle.
 * @thread Any thread. */
KINETOR_EXPORT float get_kinetor_nominal_max_torque_continuous_force(int kinetor_id);

/* Safety settings; the enable arguments travel on as one byte (their low 8 bits). */
/** Sets the stylus speed above which update_kinetor() switches forces off with -13.
 * @param kinetor_id device handle from init_kinetor()
 * @param max_vel the speed, mm/s (default 1200)
 * @return 0, -15 negative, -11.
 * @thread Any thread. */
KINETOR_EXPORT int set_kinetor_max_velocity(int kinetor_id, float max_vel);
/** @param kinetor_id device handle from init_kinetor()
 * @return the maximum stylus speed, mm/s; -11.0 for an invalid handle.
 * @thread Any thread. */
KINETOR_EXPORT float get_kinetor_max_velocity(int kinetor_id);
/** Switches the maximum-velocity check of update_kinetor() on or off (default on).
 * @param kinetor_id device handle from init_kinetor()
 * @param enable non-zero low byte: on
 * @return 0, -11.
 * @thread Any thread. */
KINETOR_EXPORT int enable_kinetor_velocity_check(int kinetor_id, int enable);
/** @param kinetor_id device handle from init_kinetor()
 * @return 1 when the velocity check is on, 0 when off, -11.
 * @thread Any thread. */
KINETOR_EXPORT int is_kinetor_velocity_check_enabled(int kinetor_id);
/** Switches the motor-torque limit check on or off (default on); with it, a force that
 * would exceed a motor's limit is refused with -2.
 * @param kinetor_id device handle from init_kinetor()
 * @param enable non-zero low byte: on
 * @return 0, -11.
 * @thread Any thread. */
KINETOR_EXPORT int enable_kinetor_force_check(int kinetor_id, int enable);
/** @param kinetor_id device handle from init_kinetor()
 * @return 1 when the force check is on, 0 when off, -11.
 * @thread Any thread. */
KINETOR_EXPORT int is_kinetor_force_check_enabled(int kinetor_id);
/** Sets how fast the force cap grows after forces come on.
 * @param kinetor_id device handle from init_kinetor()
 * @param rate N per 1000 updates (default 0.5)
 * @return 0, -9 negative, -11.
 * @thread Any thread. */
KINETOR_EXPORT int set_kinetor_ramp_forces_rate(int kinetor_id, float rate);
/** @param kinetor_id device handle from init_kinetor()
 * @return the ramp rate, N per 1000 updates; -11.0 for an invalid handle.
 * @thread Any thread. */
KINETOR_EXPORT float get_kinetor_ramp_forces_rate(int kinetor_id);
/** Switches the force ramp on or off (default on).
 * @param kinetor_id device handle from init_kinetor()
 * @param enable non-zero low byte: on
 * @return 0, -11.
 * @thread Any thread. */
KINETOR_EXPORT int enable_kinetor_ramp_forces(int kinetor_id, int enable);
/** @param kinetor_id device handle from init_kinetor()
 * @return 1 when the force ramp is on, 0 when off, -11.
 * @thread Any thread. */
KINETOR_EXPORT int is_kinetor_ramp_forces_enabled(int kinetor_id);
/** Sets the force-kick limit: the largest change of the Cartesian force between two
 * accepted commands.
 * @param kinetor_id device handle from init_kinetor()
 * @param limit N (default 4)
 * @return 0, -9 negative, -11.
 * @thread Any thread. */
KINETOR_EXPORT int set_kinetor_force_kick_safety(int kinetor_id, float limit);
/** @param kinetor_id device handle from init_kinetor()
 * @return the force-kick limit, N; -11.0 for an invalid handle.
 * @thread Any thread. */
KINETOR_EXPORT float get_kinetor_force_kick_safety(int kinetor_id);
/** Switches the force-kick check on or off (default off). A kick restarts the ramp, or is
 * refused with -7 when the ramp is off.
 * @param kinetor_id device handle from init_kinetor()
 * @param enable non-zero low byte: on
 * @return 0, -11.
 * @thread Any thread. */
KINETOR_EXPORT int enable_kinetor_force_kick_safety(int kinetor_id, int enable);
/** @param kinetor_id device handle from init_kinetor()
 * @return 1 when the force-kick check is on, 0 when off, -11.
 * @thread Any thread. */
KINETOR_EXPORT int is_kinetor_force_kick_safety_enabled(int kinetor_id);
/** Removes the motor torque saturation limits (all set to 0: no saturation).
 * @param kinetor_id device handle from init_kinetor()
 * @return 0, -11.
 * @thread Any thread, while forces are off. */
KINETOR_EXPORT int zero_force_saturation(int kinetor_id);
/** Sets each motor's torque saturation limit from its motor type.
 * @param kinetor_id device handle from init_kinetor()
 * @return 0, -11.
 * @thread Any thread, while forces are off. */
KINETOR_EXPORT int truncate_force_saturation(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return 1 when every motor (six on a 6-DOF device, else three) has a saturation limit,
 *         0 when not, -11.
 * @thread Any thread. */
KINETOR_EXPORT int is_force_saturation_enabled(int kinetor_id);

/* Force output */
/** Switches the amplifiers on and lets forces through, starting the force ramp; waits up
 * to 3 s for the device to report no fault, keeping every active device's watchdog alive.
 * @param kinetor_id device handle from init_kinetor()
 * @return 0 (also when already on); -4 the fault would not clear (forces stay off); -16 the
 *         device must be homed with kinetor_reset() first; -11; codes of the interface.
 * @thread An application thread, also while the servo loop runs. */
KINETOR_EXPORT int enable_kinetor_forces(int kinetor_id);
/** As enable_kinetor_forces(), without waiting for the device's fault to clear.
 * @param kinetor_id device handle from init_kinetor()
 * @return 0, -16 not homed, -11, codes of the interface.
 * @thread An application thread, also while the servo loop runs. */
KINETOR_EXPORT int enable_kinetor_forces_no_wait(int kinetor_id);
/** Sends zero torque, switches the amplifiers off and saves the motor temperatures.
 * @param kinetor_id device handle from init_kinetor()
 * @return 0 (also when already off); the error of writing the zero torque, in which case
 *         the amplifiers are switched off all the same; -11.
 * @thread Any thread, also while the servo loop runs. */
KINETOR_EXPORT int disable_kinetor_forces(int kinetor_id);
/** The same as disable_kinetor_forces().
 * @param kinetor_id device handle from init_kinetor()
 * @return as disable_kinetor_forces().
 * @thread Any thread, also while the servo loop runs. */
KINETOR_EXPORT int disable_kinetor_forces_no_wait(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return 1 when forces are enabled, 0 when not, -11.
 * @thread Any thread. */
KINETOR_EXPORT int is_kinetor_forces_enabled(int kinetor_id);
/** Sends a Cartesian force through the checks (fault, temperature, force kick, ramp,
 * motor limits).
 * @param kinetor_id device handle from init_kinetor()
 * @param f the force, N, in the application's frame (3 values); may be scaled down in place
 *        by the ramp
 * @return 0; -1 motors too warm (forces off); -2 a motor limit or device fault; -7 force
 *         kick with the ramp off (nothing sent); -9 null f; -12 forces not enabled; -13 speed
 *         error; -28 or -31 link lost; -11.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int send_kinetor_force(int kinetor_id, float* f);
/** As send_kinetor_force(), with torques for a 6-DOF device (ignored on other models).
 * @param kinetor_id device handle from init_kinetor()
 * @param forces_and_torques force, N, then torque, N mm (6 values); may be changed in place
 * @return as send_kinetor_force().
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int send_kinetor_force_6dof(int kinetor_id, float* forces_and_torques);
/** Writes the joint torques last computed by the device model, through the same checks as
 * send_kinetor_force().
 * @param kinetor_id device handle from init_kinetor()
 * @return as send_kinetor_force().
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int write_kinetor_joint_torques(int kinetor_id);
/** Sends joint torques directly, through the same checks as send_kinetor_force().
 * @param kinetor_id device handle from init_kinetor()
 * @param joints_torques six joint torques, N mm
 * @return as send_kinetor_force().
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int send_kinetor_joint_torques(int kinetor_id, float* joints_torques);
/** Writes DAC words to the motor amplifiers directly, bypassing kinematics.
 * @param kinetor_id device handle from init_kinetor()
 * @param dacvalues signed DAC words, 3 values (6 for the Altura 6 DOF)
 * @return 0, -9 null array, -12 forces not enabled, -1 motors too warm, -11, fault and link
 *         codes as send_kinetor_force().
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int command_motor_dac_values(int kinetor_id, long* dacvalues);
/** Commands normalised motor voltages (scaled to DAC words by TDL_MOTOR_VOLTAGE_SCALE).
 * @param kinetor_id device handle from init_kinetor()
 * @param volts_commanded six normalised voltages
 * @param volts_sent receives the six voltages actually sent after limits
 * @return as command_motor_dac_values().
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int command_motor_voltages(int kinetor_id, float* volts_commanded, float* volts_sent);
/** @param kinetor_id device handle from init_kinetor()
 * @param stuck_position receives the friction routine's stuck position, mm, device frame
 *        (3 values)
 * @return 0, -9 null array, -11.
 * @thread The servo thread. */
KINETOR_EXPORT int get_kinetor_stuck_pos(int kinetor_id, float* stuck_position);
/** @param kinetor_id device handle from init_kinetor()
 * @param stuck_position the friction routine's new stuck position, mm, device frame
 *        (3 values)
 * @return 0, -9 null array, -11.
 * @thread The servo thread. */
KINETOR_EXPORT int set_kinetor_stuck_pos(int kinetor_id, float* stuck_position);
/** Computes a static-friction force: a spring towards the stuck position, across the
 * applied force, that breaks away (and drags the stuck position along) when it exceeds the
 * threshold. A zero force re-sticks at the present position.
 * @param kinetor_id device handle from init_kinetor()
 * @param friction_force receives the friction force, N (3 values)
 * @param force the force the application applies, N (3 values)
 * @param friction stiffness of the friction spring, N/mm
 * @param threshold largest friction as a fraction of the applied force's magnitude
 * @param stuck_move how far, as a fraction of the spring's stretch, the stuck position stays
 *        from the stylus after breaking away
 * @return 0, -9 a null array, -11.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT int calc_kinetor_friction(int kinetor_id, float* friction_force, float* force,
                                         float friction, float threshold, float stuck_move);

/* Pinch grip and status light */
/** @param kinetor_id device handle from init_kinetor()
 * @return the 6-DOF pinch grip's reading of the last update, normalised between its
 *         calibrated ends for a pinch grip (handle type 1 or 2), else the raw reading; 0 on
 *         other models; -11.0 for an invalid handle.
 * @thread The servo thread, after update_kinetor(). */
KINETOR_EXPORT double get_pinch_value(int kinetor_id);
/** Sets and saves the two ends of the pinch grip's raw reading.
 * @param kinetor_id device handle from init_kinetor()
 * @param min raw reading with the grip open
 * @param max raw reading with the grip closed
 * @return 0, -11.
 * @thread An application thread. */
KINETOR_EXPORT int set_pinch_limits(int kinetor_id, int min, int max);
/** @param kinetor_id device handle from init_kinetor()
 * @return 1 when the pinch grip's ends are known (set or read from the state file), 0 when
 *         not, -11.
 * @thread Any thread. */
KINETOR_EXPORT int is_pinch_calibrated(int kinetor_id);
/** Takes the status light over from the library (Bravis only).
 * @param kinetor_id device handle from init_kinetor()
 * @param status the light's new state
 * @return 0, -10 not a Bravis, -22 not supported by the interface, -11.
 * @thread Any thread. */
KINETOR_EXPORT int override_status_light(int kinetor_id, int status);
/** Gives the status light back to the library (Bravis only).
 * @param kinetor_id device handle from init_kinetor()
 * @return 0, -10 not a Bravis, -22 not supported by the interface, -11.
 * @thread Any thread. */
KINETOR_EXPORT int restore_status_light(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return 1 when the status light is overridden, 0 when not; -10 not a Bravis, -22, -11.
 * @thread Any thread. */
KINETOR_EXPORT int is_status_light_enabled(int kinetor_id);
/** @param kinetor_id device handle from init_kinetor()
 * @return the status light's state; -10 not a Bravis, -22, -11.
 * @thread Any thread. */
KINETOR_EXPORT int get_status_light(int kinetor_id);

#ifdef __cplusplus
}

/* These two keep C++ linkage: applications built against earlier releases link them
 * under names that carry the parameter type. */
/** The device's state record, for C++ tools that know its layout.
 * @param kinetor_id device handle from init_kinetor()
 * @return the record, or null for an invalid handle.
 * @thread Any thread; the record changes on the servo thread. */
KINETOR_EXPORT struct _KINETOR_DEVICE_DATA* get_member_data(int kinetor_id);
/** The device model's connection data, for C++ tools that know its layout.
 * @param kinetor_id device handle from init_kinetor()
 * @return the data, or null for an invalid handle.
 * @thread Any thread. */
KINETOR_EXPORT void* get_connection_data(int kinetor_id);
#else
/* get_member_data and get_connection_data are reachable from C++ only. */
#endif

#endif
