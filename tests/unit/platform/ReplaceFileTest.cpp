// Whole-file replacement: what the replaced file looks like afterwards, and what is refused.
#include <gtest/gtest.h>

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ReplaceFile.h"
#include "support/FileSizeLimit.h"

namespace {

class ReplaceFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szDir[] = "/tmp/kio-replace-XXXXXX";
        ASSERT_NE(mkdtemp(szDir), nullptr);
        m_strDir = szDir;
    }
    void TearDown() override
    {
        for (const std::string& strName : SortedDirectoryEntries(m_strDir)) {
            std::string strPath = Path(strName);
            if (rmdir(strPath.c_str()) != 0) {
                unlink(strPath.c_str());
            }
        }
        rmdir(m_strDir.c_str());
    }
    std::string Path(const std::string& strName) const { return m_strDir + "/" + strName; }
    void Write(const std::string& strName, const std::string& strText) const
    {
        std::ofstream(Path(strName), std::ios::binary) << strText;
    }
    std::string Read(const std::string& strName) const
    {
        std::ifstream in(Path(strName), std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    BOOLEAN Replace(const std::string& strName, const std::string& strText) const
    {
        return ReplaceFileContents(Path(strName).c_str(), strText.data(), strText.size());
    }
    mode_t Mode(const std::string& strName) const
    {
        struct stat st;
        return stat(Path(strName).c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
    }

    std::string m_strDir;
};

TEST_F(ReplaceFileTest, NewFilesGet0644AndOldFilesKeepTheirMode)
{
    ASSERT_TRUE(Replace("new", "fresh\n"));
    EXPECT_EQ("fresh\n", Read("new"));
    EXPECT_EQ(0644u, Mode("new"));

    Write("old", std::string(100, 'o'));
    ASSERT_EQ(0, chmod(Path("old").c_str(), 0600));
    ASSERT_TRUE(Replace("old", ""));
    EXPECT_EQ("", Read("old"));
    EXPECT_EQ(0600u, Mode("old"));
    EXPECT_EQ((std::vector<std::string>{"new", "old"}), SortedDirectoryEntries(m_strDir));
}

// A link stays a link and the file it names gets the new content.
TEST_F(ReplaceFileTest, LinksAreFollowed)
{
    Write("target", "before\n");
    ASSERT_EQ(0, symlink("target", Path("link").c_str()));
    ASSERT_TRUE(Replace("link", "after\n"));
    struct stat st;
    ASSERT_EQ(0, lstat(Path("link").c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ("after\n", Read("target"));
}

// Whatever the failure, the old state stays and nothing is left beside it.
TEST_F(ReplaceFileTest, FailuresLeaveEverythingAsItWas)
{
    ASSERT_EQ(0, mkdir(Path("dir").c_str(), 0755));
    ASSERT_EQ(0, mkfifo(Path("fifo").c_str(), 0644));
    Write("file", "kept\n");
    const std::vector<std::string> before = SortedDirectoryEntries(m_strDir);
    EXPECT_FALSE(Replace("dir", "x"));
    EXPECT_FALSE(Replace("fifo", "x"));
    BOOLEAN bCreated = TRUE;
    EXPECT_FALSE(ReplaceFileContents((m_strDir + "/missing/file").c_str(), "x", 1, &bCreated));
    EXPECT_FALSE(bCreated);

    int nError = 0;
    {
        CScopedFileSizeLimit limit(3);
        ASSERT_TRUE(limit.Active());
        bCreated = FALSE;
        EXPECT_FALSE(ReplaceFileContents(Path("file").c_str(), "too long", 8, &bCreated));
        nError = errno;
    }
    EXPECT_TRUE(bCreated);
    EXPECT_EQ(EFBIG, nError);
    EXPECT_EQ("kept\n", Read("file"));
    EXPECT_EQ(before, SortedDirectoryEntries(m_strDir));
}

}  // namespace
