// Growth policy and element moves of the pointer array.
#include <gtest/gtest.h>

#include <vector>

#include "platform/KinetorArray.h"

namespace {

void* P(long n)
{
    return reinterpret_cast<void*>(n);
}

std::vector<long> Contents(const CKinetorArray& a)
{
    std::vector<long> v;
    for (int i = 0; i < a.GetSize(); i++) {
        v.push_back(reinterpret_cast<long>(a.GetAt(i)));
    }
    return v;
}

TEST(KinetorArrayTest, GrowsByAnEighthBetweenFourAnd1024)
{
    CKinetorArray a;
    ASSERT_TRUE(a.SetSize(1, 0));
    EXPECT_EQ(a.GetMaxSize(), 1);
    ASSERT_TRUE(a.SetSize(2));
    EXPECT_EQ(a.GetMaxSize(), 5);  // max(2, 1 + 4)
    EXPECT_EQ(a.GetSize(), 2);

    CKinetorArray b;
    ASSERT_TRUE(b.SetSize(100, 0));
    ASSERT_TRUE(b.SetSize(101));
    EXPECT_EQ(b.GetMaxSize(), 112);  // step 100 / 8 = 12

    CKinetorArray c;
    ASSERT_TRUE(c.SetSize(10000, 0));
    ASSERT_TRUE(c.SetSize(10001));
    EXPECT_EQ(c.GetMaxSize(), 11024);  // step limited to 1024

    CKinetorArray d;
    ASSERT_TRUE(d.SetSize(3, 10));
    ASSERT_TRUE(d.SetSize(4));
    EXPECT_EQ(d.GetMaxSize(), 13);  // explicit step
    ASSERT_TRUE(d.SetSize(40));
    EXPECT_EQ(d.GetMaxSize(), 40);  // a larger request than capacity + step is taken as is

    // Only -1 keeps the step; any other value replaces it, a negative one leaving no margin.
    CKinetorArray e;
    ASSERT_TRUE(e.SetSize(3, 10));
    ASSERT_TRUE(e.SetSize(3, -2));
    ASSERT_TRUE(e.SetSize(4));
    EXPECT_EQ(e.GetMaxSize(), 4);  // max(4, 3 - 2), not 3 + 10
    ASSERT_TRUE(e.SetSize(4, 0));
    ASSERT_TRUE(e.SetSize(5, -1));
    EXPECT_EQ(e.GetMaxSize(), 8);  // the automatic step stays: max(5, 4 + 4)
}

TEST(KinetorArrayTest, NewEntriesAreNullAndShrinkingKeepsCapacity)
{
    CKinetorArray a;
    for (long i = 0; i < 6; i++) {
        EXPECT_EQ(a.Add(P(i + 1)), i);
    }
    int nCapacity = a.GetMaxSize();
    ASSERT_TRUE(a.SetSize(2));
    EXPECT_EQ(a.GetMaxSize(), nCapacity);
    ASSERT_TRUE(a.SetSize(4));
    EXPECT_EQ(Contents(a), (std::vector<long>{1, 2, 0, 0}));

    a.FreeExtra();
    EXPECT_EQ(a.GetMaxSize(), 4);
    ASSERT_TRUE(a.SetSize(0));
    EXPECT_EQ(a.GetMaxSize(), 0);
    a.FreeExtra();
    EXPECT_EQ(a.GetMaxSize(), 0);
    EXPECT_FALSE(a.SetSize(-1));
}

TEST(KinetorArrayTest, SetAtGrowInsertAndRemove)
{
    CKinetorArray a;
    ASSERT_TRUE(a.SetAtGrow(3, P(4)));
    EXPECT_EQ(Contents(a), (std::vector<long>{0, 0, 0, 4}));
    ASSERT_TRUE(a.InsertAt(1, P(9), 2));
    EXPECT_EQ(Contents(a), (std::vector<long>{0, 9, 9, 0, 0, 4}));
    ASSERT_TRUE(a.InsertAt(8, P(7), 1));  // beyond the end: grows to index + count
    EXPECT_EQ(Contents(a), (std::vector<long>{0, 9, 9, 0, 0, 4, 0, 0, 7}));
    a.RemoveAt(1, 4);
    EXPECT_EQ(Contents(a), (std::vector<long>{0, 4, 0, 0, 7}));
    a.RemoveAt(3, 5);  // past the end: refused rather than moving foreign memory
    EXPECT_EQ(a.GetSize(), 5);
    EXPECT_FALSE(a.InsertAt(0, P(1), 0));

    // Out-of-range indices neither read nor write outside the entries.
    EXPECT_EQ(a.GetAt(-1), nullptr);
    EXPECT_EQ(a.GetAt(5), nullptr);
    a.SetAt(5, P(1));
    a.SetAt(-1, P(1));
    EXPECT_EQ(Contents(a), (std::vector<long>{0, 4, 0, 0, 7}));
}

TEST(KinetorArrayTest, ArrayOperationsCopyInOrder)
{
    CKinetorArray a;
    CKinetorArray b;
    a.Add(P(1));
    a.Add(P(2));
    b.Add(P(10));
    b.Add(P(20));
    b.Add(P(30));
    ASSERT_TRUE(a.InsertAt(1, &b));
    EXPECT_EQ(Contents(a), (std::vector<long>{1, 10, 20, 30, 2}));
    EXPECT_EQ(a.Append(b), 5);
    EXPECT_EQ(Contents(a), (std::vector<long>{1, 10, 20, 30, 2, 10, 20, 30}));

    CKinetorArray c;
    ASSERT_TRUE(c.Copy(b));
    EXPECT_EQ(Contents(c), Contents(b));
    ASSERT_TRUE(c.InsertAt(1, &c));  // into itself
    EXPECT_EQ(Contents(c), (std::vector<long>{10, 10, 20, 30, 20, 30}));
    EXPECT_EQ(c.Append(c), 6);
    EXPECT_EQ(c.GetSize(), 12);
    EXPECT_EQ(reinterpret_cast<long>(c.GetAt(11)), 30);
}

}  // namespace
