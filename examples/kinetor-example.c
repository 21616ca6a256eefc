/* A virtual floor 5 mm above the start, felt for 3000 servo ticks (3 s at 1000 Hz). */
#define _POSIX_C_SOURCE 200809L
#include <KinetorIO.h>
#include <KinetorServo.h>
#include <stdatomic.h>
#include <stdio.h>
#include <time.h>

#define FLOOR_Z 5.0f   /* mm */
#define TICKS 3000

typedef struct {
    int handle;
    atomic_int ticks;  /* ticks with forces on; written by the servo thread */
    atomic_int error;  /* the first error on the servo thread, 0 while all is well */
    float pos[3];      /* last position; main reads it once the loop has stopped */
} EXAMPLE;

static int tick(void* data)
{
    EXAMPLE* ex = data;
    float force[3] = {0.0f, 0.0f, 0.0f};
    int r = update_kinetor(ex->handle);         /* read the arm once per tick */
    if (r == 0) {
        get_kinetor_pos(ex->handle, ex->pos);   /* stylus position, mm */
        if (ex->pos[2] < FLOOR_Z)
            force[2] = 0.5f * (FLOOR_Z - ex->pos[2]);  /* 0.5 N per mm below */
        r = send_kinetor_force(ex->handle, force);     /* N, through the checks */
        if (r == -12)
            return 0;                           /* forces not enabled yet */
    }
    if (r < 0) {
        atomic_store(&ex->error, r);
        return -1;                              /* negative ends the loop */
    }
    return atomic_fetch_add(&ex->ticks, 1) + 1 < TICKS ? 0 : -1;
}

int main(void)
{
    static EXAMPLE ex;
    struct timespec pause = {0, 10000000};
    int r = 0;

    ex.handle = init_kinetor("My Arm");         /* "" opens the first configuration */
    if (ex.handle < 0) {
        fprintf(stderr, "init_kinetor: error %d\n", ex.handle);
        return 1;
    }
    if (is_kinetor_reset_supported(ex.handle) == 1)
        r = kinetor_reset(ex.handle);           /* Altura: home at the reset pose */
    initOSExtender();
    if (r == 0)
        r = startServoLoop(tick, &ex);
    if (r == 0) {
        r = enable_kinetor_forces(ex.handle);   /* forces then ramp up from zero */
        while (r == 0 && atomic_load(&ex.ticks) < TICKS && atomic_load(&ex.error) == 0)
            nanosleep(&pause, NULL);
        stopServoLoop();
        disable_kinetor_forces(ex.handle);
    }
    if (r == 0)
        r = atomic_load(&ex.error);
    if (r == 0)
        printf("%d ticks at %.0f Hz; stylus at %.1f, %.1f, %.1f mm\n", atomic_load(&ex.ticks),
               get_kinetor_rate(ex.handle), ex.pos[0], ex.pos[1], ex.pos[2]);
    else
        fprintf(stderr, "error %d\n", r);
    disable_kinetor(ex.handle);
    return r == 0 ? 0 : 1;
}
