// Synthetic sensor sweeps for the home-sensor calibration: encoder paths per base axis and
// the stretches where each axis's sensor sees a flag, turned into input blocks; and an
// independent account of the edges the sweep produces.
#ifndef TEST_SWEEP_BUILDER_H
#define TEST_SWEEP_BUILDER_H

#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

#include "WireDouble.h"

typedef std::vector<long> Path;

// from, from + step, ... up to and including to (the last step may be shorter).
inline Path Ramp(long lFrom, long lTo, long lStep)
{
    Path path;
    long l = lFrom;
    while ((lStep > 0 && l < lTo) || (lStep < 0 && l > lTo)) {
        path.push_back(l);
        l += lStep;
    }
    path.push_back(lTo);
    return path;
}

inline Path Join(Path a, const Path& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A path whose step depends on where the arm is.
inline Path Profile(long lFrom, long lTo, const std::function<long(long)>& step)
{
    Path path;
    long l = lFrom;
    while (l < lTo) {
        path.push_back(l);
        l += step(l);
    }
    path.push_back(lTo);
    return path;
}

// Flag stretches [first, second) of one axis.
typedef std::vector<std::pair<long, long>> Flags;

inline bool InFlag(const Flags& flags, long l)
{
    for (const auto& f : flags)
        if (l >= f.first && l < f.second)
            return true;
    return false;
}

// Calibration bit of each base axis in ucMiscIn.
const UCHAR kAxisBit[3] = {0x10, 0x04, 0x08};

struct Axis {
    Path path;
    Flags flags;
};

// Blocks for a sweep of all three axes; shorter paths hold their last position.
inline std::vector<_PORT_INPUT> Blocks(const Axis axes[3], int nRevision)
{
    size_t nTicks = 0;
    for (int a = 0; a < 3; a++)
        nTicks = std::max(nTicks, axes[a].path.size());
    std::vector<_PORT_INPUT> blocks;
    for (size_t t = 0; t < nTicks; t++) {
        _PORT_INPUT in = {};
        in.ucMiscIn = 0x40;
        in.ucSpeedErrs = static_cast<UCHAR>(nRevision);
        in.usPot0 = 1000;
        long al[3];
        for (int a = 0; a < 3; a++) {
            const Path& p = axes[a].path;
            al[a] = p.empty() ? 0 : p[std::min(t, p.size() - 1)];
            if (InFlag(axes[a].flags, al[a]))
                in.ucMiscIn |= kAxisBit[a];
        }
        in.usQuad0 = static_cast<USHORT>(al[0]);
        in.usQuad1 = static_cast<USHORT>(al[1]);
        in.usQuad2 = static_cast<USHORT>(al[2]);
        blocks.push_back(in);
    }
    return blocks;
}

// One sensor edge: the position at the first tick with the new state and the step that
// led there.
struct Edge {
    long lPos;
    long lVel;
    bool bRising;
};

inline std::vector<Edge> Edges(const Axis& axis)
{
    std::vector<Edge> edges;
    for (size_t t = 1; t < axis.path.size(); t++) {
        bool bBefore = InFlag(axis.flags, axis.path[t - 1]);
        bool bNow = InFlag(axis.flags, axis.path[t]);
        if (bBefore != bNow)
            edges.push_back({axis.path[t], axis.path[t] - axis.path[t - 1], bNow});
    }
    return edges;
}

// The stretch between two edges: midpoint (truncated toward zero) and summed velocity.
struct Stretch {
    long lWidth;
    long lMid;
    long lVel;
};

inline Stretch Between(const Edge& a, const Edge& b)
{
    long lLo = std::min(a.lPos, b.lPos);
    long lHi = std::max(a.lPos, b.lPos);
    long lSum = lLo + lHi;
    long lMid = (lSum >= 0) ? lSum / 2 : -((-lSum) / 2);
    return {lHi - lLo, lMid, a.lVel + b.lVel};
}

inline void Feed(CWireDouble& conn, const std::vector<_PORT_INPUT>& blocks)
{
    for (const _PORT_INPUT& in : blocks)
        conn.Push(in);
    conn.RunScript();
}

#endif
