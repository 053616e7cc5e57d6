#include <gtest/gtest.h>

#include "engine/Orvalink.h"

namespace {

COrvalink Filled() {
    COrvalink r;
    r.m_strIP = "192.168.1.20";
    r.m_strMAC = "02:00:00:12:34:AB";
    r.m_strType = "OL-500\r";
    r.m_strBuild = "1009";
    r.m_strInterface = "eth1";
    return r;
}

TEST(OrvalinkTest, DefaultRecordHasFourEmptyTexts) {
    COrvalink r;
    EXPECT_TRUE(r.m_strIP.empty());
    EXPECT_TRUE(r.m_strMAC.empty());
    EXPECT_TRUE(r.m_strType.empty());
    EXPECT_TRUE(r.m_strBuild.empty());
}

TEST(OrvalinkTest, AssignmentCopiesEveryFieldAndLeavesTheSourceAlone) {
    const COrvalink source = Filled();
    COrvalink target;
    target.m_strIP = "stale";
    COrvalink& result = (target = source);
    EXPECT_EQ(&result, &target);
    EXPECT_EQ(target.m_strIP, "192.168.1.20");
    EXPECT_EQ(target.m_strMAC, "02:00:00:12:34:AB");
    EXPECT_EQ(target.m_strType, "OL-500\r");
    EXPECT_EQ(target.m_strBuild, "1009");
    EXPECT_EQ(target.m_strInterface, "eth1");
    EXPECT_EQ(source.m_strIP, "192.168.1.20");
}

TEST(OrvalinkTest, SelfAssignmentChangesNothing) {
    COrvalink r = Filled();
    COrvalink& alias = r;
    r = alias;
    EXPECT_EQ(r.m_strIP, "192.168.1.20");
    EXPECT_EQ(r.m_strMAC, "02:00:00:12:34:AB");
    EXPECT_EQ(r.m_strType, "OL-500\r");
    EXPECT_EQ(r.m_strBuild, "1009");
}

}  // namespace
