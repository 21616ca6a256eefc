#include "Scene.h"

#include <cmath>

void MakeDefaultScene(const float afStart[3], float fWallDistance, SCENE_PARAMS* pScene)
{
    for (int i = 0; i < 3; i++) {
        pScene->fAnchor[i] = afStart[i];
        pScene->fWallPoint[i] = afStart[i];
        pScene->fWallNormal[i] = 0.0f;
    }
    pScene->fWallPoint[0] -= fWallDistance;
    pScene->fWallNormal[0] = 1.0f;
    pScene->fSpringStiffness = 0.05f;
    pScene->fWallStiffness = 0.5f;
    pScene->fMaxForce = 6.0f;
}

float ComputeSceneForce(const SCENE_PARAMS* pScene, const float afPos[3], float afForce[3])
{
    float fDepth = 0.0f;
    for (int i = 0; i < 3; i++) {
        afForce[i] = -pScene->fSpringStiffness * (afPos[i] - pScene->fAnchor[i]);
        fDepth -= (afPos[i] - pScene->fWallPoint[i]) * pScene->fWallNormal[i];
    }
    if (fDepth > 0.0f) {
        for (int i = 0; i < 3; i++)
            afForce[i] += pScene->fWallStiffness * fDepth * pScene->fWallNormal[i];
    } else {
        fDepth = 0.0f;
    }
    // A wall pushed deep enough would ask for more than the arm should give; scale, do not
    // clip per axis, so the force keeps its direction.
    float fMag = std::sqrt(afForce[0] * afForce[0] + afForce[1] * afForce[1] + afForce[2] * afForce[2]);
    if (fMag > pScene->fMaxForce && fMag > 0.0f) {
        float fScale = pScene->fMaxForce / fMag;
        for (int i = 0; i < 3; i++)
            afForce[i] *= fScale;
    }
    return fDepth;
}
