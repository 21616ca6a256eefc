// The two loggers write to standard error; the trace hooks write nothing.
#include <gtest/gtest.h>

#include <pthread.h>

#include <string>

#include "KinetorLog.h"
#include "platform/Trace.h"

namespace {

TEST(LogTest, WritesTheFormattedTextUnchanged)
{
    testing::internal::CaptureStderr();
    Log("100%% of %d", 3);
    Log("%s", "50%d stays");
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "100% of 350%d stays");

    testing::internal::CaptureStderr();
    Log("%s", std::string(400, 'x').c_str());
    out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, std::string(255, 'x'));
}

TEST(LogTest, StructuredLineHasItsFieldsInOrder)
{
    testing::internal::CaptureStderr();
    LogV("Source.cpp", 42, "Func", "message", 1);
    LogV("Source.cpp", 43, nullptr, "plain", 0);
    LogV("Source.cpp", 44, "Hidden", "quiet", 2);
    std::string out = testing::internal::GetCapturedStderr();

    std::string strTid = std::to_string(static_cast<unsigned long>(pthread_self()));
    std::string strFirst = "Source.cpp, 42, " + strTid + ", ";
    ASSERT_EQ(out.compare(0, strFirst.size(), strFirst), 0) << out;
    size_t nEnd = out.find('\n');
    ASSERT_NE(nEnd, std::string::npos);
    std::string strLine1 = out.substr(0, nEnd);
    EXPECT_EQ(strLine1.substr(strLine1.size() - 14), ": Func message") << strLine1;
    std::string strLine2 = out.substr(nEnd + 1);
    EXPECT_EQ(strLine2.compare(0, 16, "Source.cpp, 43, "), 0) << strLine2;
    EXPECT_EQ(strLine2.substr(strLine2.size() - 8), ": plain\n") << strLine2;
    EXPECT_EQ(out.find("quiet"), std::string::npos);
}

TEST(LogTest, TraceHooksAreSilent)
{
    int nOnlyTraced = 7;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    LOG("TID(%X, %d) CBlockConnection AllocateConnection\n", 1u, nOnlyTraced);
    LOGV("value %f\n", 1.5);
    LOGT("text\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
