#include "Report.h"
#include "Scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

SCENE_PARAMS SceneAtOrigin()
{
    const float afStart[3] = {0.0f, 0.0f, 0.0f};
    SCENE_PARAMS scene;
    MakeDefaultScene(afStart, 15.0f, &scene);
    return scene;
}

TEST(DemoScene, FreeSpaceFeelsOnlyTheSpring)
{
    SCENE_PARAMS scene = SceneAtOrigin();
    const float afPos[3] = {10.0f, -20.0f, 4.0f};
    float afForce[3];
    EXPECT_FLOAT_EQ(ComputeSceneForce(&scene, afPos, afForce), 0.0f);
    // Spring 0.05 N/mm towards the anchor at the origin.
    EXPECT_FLOAT_EQ(afForce[0], -0.5f);
    EXPECT_FLOAT_EQ(afForce[1], 1.0f);
    EXPECT_FLOAT_EQ(afForce[2], -0.2f);
}

TEST(DemoScene, WallPushesBackInProportionToDepth)
{
    SCENE_PARAMS scene = SceneAtOrigin();
    const float afPos[3] = {-19.0f, 0.0f, 0.0f};  // 4 mm behind the wall at x = -15
    float afForce[3];
    EXPECT_FLOAT_EQ(ComputeSceneForce(&scene, afPos, afForce), 4.0f);
    // Spring 0.95 N plus wall 0.5 N/mm x 4 mm.
    EXPECT_FLOAT_EQ(afForce[0], 0.95f + 2.0f);
    EXPECT_FLOAT_EQ(afForce[1], 0.0f);
}

TEST(DemoScene, LargeForcesKeepTheirDirection)
{
    SCENE_PARAMS scene = SceneAtOrigin();
    const float afPos[3] = {-40.0f, 30.0f, 0.0f};
    float afForce[3];
    ComputeSceneForce(&scene, afPos, afForce);
    // Unlimited: x = 2 + 12.5 = 14.5, y = -1.5; scaled to 6 N along the same direction.
    float fUnlimited = std::sqrt(14.5f * 14.5f + 1.5f * 1.5f);
    EXPECT_NEAR(afForce[0], 14.5f * 6.0f / fUnlimited, 1e-5);
    EXPECT_NEAR(afForce[1], -1.5f * 6.0f / fUnlimited, 1e-5);
}

TEST(DemoReport, PercentilesFollowTheNearestRank)
{
    std::vector<double> v;
    for (int i = 1; i <= 1000; i++)
        v.push_back(static_cast<double>(1001 - i));  // unsorted on purpose
    EXPECT_DOUBLE_EQ(Percentile(v, 0.5), 500.0);
    EXPECT_DOUBLE_EQ(Percentile(v, 0.99), 990.0);
    EXPECT_DOUBLE_EQ(Percentile(v, 0.999), 999.0);
    EXPECT_DOUBLE_EQ(Percentile(v, 1.0), 1000.0);
    EXPECT_DOUBLE_EQ(Percentile({}, 0.5), 0.0);
}

TEST(DemoReport, SummaryAndPlotOfARecordedRun)
{
    CDemoRecorder recorder(3);
    for (int i = 0; i < 5; i++) {  // two more than fit: they must be dropped, not written
        DEMO_SAMPLE s = {};
        s.dTime = i * 0.001;
        s.dPeriod = i ? 0.001 : 0.0;
        s.afForce[2] = static_cast<float>(i);
        s.fDepth = 0.5f * static_cast<float>(i);
        recorder.Add(s);
    }
    ASSERT_EQ(recorder.GetCount(), 3u);
    DEMO_SUMMARY summary = Summarise(recorder);
    EXPECT_EQ(summary.nTicks, 3u);
    EXPECT_NEAR(summary.dAchievedRate, 1000.0, 1e-6);
    EXPECT_FLOAT_EQ(summary.fMaxForce, 2.0f);
    EXPECT_FLOAT_EQ(summary.fMaxDepth, 1.0f);

    char szDir[] = "/tmp/kinetor-demo-test-XXXXXX";
    ASSERT_NE(mkdtemp(szDir), nullptr);
    std::string path = std::string(szDir) + "/plot.svg";
    ASSERT_TRUE(WriteSvgPlot(path.c_str(), recorder));
    FILE* pFile = fopen(path.c_str(), "r");
    ASSERT_NE(pFile, nullptr);
    char szHead[5] = {};
    ASSERT_EQ(fread(szHead, 1, 4, pFile), 4u);
    fclose(pFile);
    EXPECT_STREQ(szHead, "<svg");
    EXPECT_FALSE(WriteSvgPlot((std::string(szDir) + "/missing/plot.svg").c_str(), recorder));
    unlink(path.c_str());
    rmdir(szDir);
}

}  // namespace
