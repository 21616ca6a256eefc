/* Servo-loop interface of the library: one dedicated thread calls the application's tick
 * callback once per hardware tick of the first open device. Open the devices first, then
 * call initOSExtender and startServoLoop; stopServoLoop before closing them. */
/** @file
 * @brief The servo-loop interface.
 * @ingroup servo */
#ifndef KINETOR_SERVO_H
#define KINETOR_SERVO_H

#include "KinetorTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Sets up the component once per process (later calls do nothing); returns 0. */
/** Sets up the servo component once per process and installs the Ctrl-C (SIGINT) handler
 * that stops the loop, closes every device and ends the process with status 255.
 * @return 0 (later calls do nothing and return 0).
 * @thread An application thread, before startServoLoop(). */
KINETOR_EXPORT int initOSExtender(void);

/* Starts the servo thread and returns after its first tick. A tick callback that returns
 * a negative value ends the loop. Returns 0 when started (or already running), -4 when
 * not initialised or no device is open, -1 when the servo thread could not be started or
 * the callback ended the loop on its very first tick. */
/** Starts the servo thread, paced by the hardware tick of the first open device.
 * @param userCallback called once per tick on the servo thread with userData; a negative
 *        result ends the loop
 * @param userData passed to userCallback unchanged
 * @return 0 started (or already running); -4 not initialised or no device open; -1 the
 *         thread could not be started or the callback ended the loop on its first tick.
 * @thread An application thread; returns after the first tick. */
KINETOR_EXPORT int startServoLoop(int (*userCallback)(void*), void* userData);

/* Ends the servo thread after its current tick and waits for it. */
/** Ends the servo thread after its current tick and waits for it (the post-servo
 * callback runs on the servo thread before it ends).
 * @thread An application thread; not the servo thread itself. */
KINETOR_EXPORT void stopServoLoop(void);

/* Servo rate in Hz for the first open device; only while the loop is stopped. Returns 0,
 * -2 while running, -4 when not initialised or no device is open, -8 when the device
 * refuses the rate. */
/** Sets the servo rate of the first open device.
 * @param nUpdateRate ticks per second, Hz (the interfaces offer 1000 and 2000; below 500
 *        is refused)
 * @return 0; -2 the loop is running; -4 not initialised or no device open; -8 the device
 *         refuses the rate.
 * @thread An application thread, while the loop is stopped. */
KINETOR_EXPORT int setServoLoopRate(ULONG nUpdateRate);

/* Seconds since the start of the current servo tick; meant for the tick callback. */
/** @return seconds since the start of the current servo tick, on the device clock.
 * @thread The servo thread, in the tick callback. */
KINETOR_EXPORT double getServoLoopTimeStamp(void);

/* Run once on the servo thread before its first tick and once after its last tick. */
/** Sets the function run once on the servo thread before its first tick.
 * @param preCallback the function, or null for none
 * @param userData passed to preCallback unchanged
 * @thread An application thread, before startServoLoop(). */
KINETOR_EXPORT void setPreServoCallback(int (*preCallback)(void*), void* userData);
/** Sets the function run once on the servo thread after its last tick.
 * @param postCallback the function, or null for none
 * @param userData passed to postCallback unchanged
 * @thread An application thread, before startServoLoop(). */
KINETOR_EXPORT void setPostServoCallback(int (*postCallback)(void*), void* userData);
/* Stored for the application; the library does not call it. */
/** Stores an error callback for the application; the library itself does not call it.
 * @param errorCallback the function, or null
 * @param userData stored with it
 * @thread An application thread. */
KINETOR_EXPORT void setServoErrorCallback(void (*errorCallback)(int, void*), void* userData);

#ifdef __cplusplus
}
#endif

#endif
