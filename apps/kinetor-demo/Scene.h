// The demo's haptic scene: a spring towards an anchor point plus a one-sided virtual
// wall. Kept free of any device access so the force law can be checked on its own.
#ifndef KINETOR_DEMO_SCENE_H
#define KINETOR_DEMO_SCENE_H

typedef struct _SCENE_PARAMS {
    float fAnchor[3];        // spring anchor, mm
    float fSpringStiffness;  // N/mm
    float fWallPoint[3];     // a point on the wall plane, mm
    float fWallNormal[3];    // unit normal pointing out of the wall (free side)
    float fWallStiffness;    // N/mm
    float fMaxForce;         // N, the force is scaled down to this magnitude
} SCENE_PARAMS;

// Builds the default scene around a start position: the anchor at the start, the wall
// fWallDistance mm away along -x, facing the start (the side the simulated hand's circle
// sweeps through).
void MakeDefaultScene(const float afStart[3], float fWallDistance, SCENE_PARAMS* pScene);

// Returns the wall penetration depth in mm (0 when on the free side) and writes the force.
float ComputeSceneForce(const SCENE_PARAMS* pScene, const float afPos[3], float afForce[3]);

#endif
