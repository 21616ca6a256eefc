/* Servo-loop interface of the library: one dedicated thread calls the application's tick
 * callback once per hardware tick of the first open device. Open the devices first, then
 * call initOSExtender and startServoLoop; stopServoLoop before closing them. */
#ifndef KINETOR_SERVO_H
#define KINETOR_SERVO_H

#include "KinetorTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Sets up the component once per process (later calls do nothing); returns 0. */
KINETOR_EXPORT int initOSExtender(void);

/* Starts the servo thread and returns after its first tick. A tick callback that returns
 * a negative value ends the loop. Returns 0 when started (or already running), -4 when
 * not initialised or no device is open, -1 when the servo thread could not be started or
 * the callback ended the loop on its very first tick. */
KINETOR_EXPORT int startServoLoop(int (*userCallback)(void*), void* userData);

/* Ends the servo thread after its current tick and waits for it. */
KINETOR_EXPORT void stopServoLoop(void);

/* Servo rate in Hz for the first open device; only while the loop is stopped. Returns 0,
 * -2 while running, -4 when not initialised or no device is open, -8 when the device
 * refuses the rate. */
KINETOR_EXPORT int setServoLoopRate(ULONG nUpdateRate);

/* Seconds since the start of the current servo tick; meant for the tick callback. */
KINETOR_EXPORT double getServoLoopTimeStamp(void);

/* Run once on the servo thread before its first tick and once after its last tick. */
KINETOR_EXPORT void setPreServoCallback(int (*preCallback)(void*), void* userData);
KINETOR_EXPORT void setPostServoCallback(int (*postCallback)(void*), void* userData);
/* Stored for the application; the library does not call it. */
KINETOR_EXPORT void setServoErrorCallback(void (*errorCallback)(int, void*), void* userData);

#ifdef __cplusplus
}
#endif

#endif
