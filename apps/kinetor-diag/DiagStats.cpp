#include "DiagStats.h"

#include <cstring>

bool DiagGetServoStats(KINETOR_SERVO_STATS* pStats)
{
    memset(pStats, 0, sizeof(*pStats));
#if DIAG_HAS_SERVO_STATS
    return getServoLoopStats(pStats) == 0;
#else
    return false;
#endif
}

void DiagResetServoStats()
{
#if DIAG_HAS_SERVO_STATS
    resetServoLoopStats();
#endif
}
