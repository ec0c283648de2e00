#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <utility>
#include <vector>

#include "scorecore/part_groups.h"

namespace scorecore {
namespace {

// Closed groups over the given first..last staff ranges, as the part-list reader leaves them.
CScorePartGroupList makeGroups(const std::vector<std::pair<int32_t, int32_t>>& ranges) {
    CScorePartGroupList list;
    int32_t number = 1;
    for (const auto& [first, last] : ranges) {
        EXPECT_TRUE(list.add("Group", "Gr.", 1, first, number));
        list.setLastPart(last);
        list.stopGroup(number++);
    }
    return list;
}

TEST(PartGroups, OpenGroupsFollowTheStavesUntilStopped) {
    CScorePartGroupList list;
    ASSERT_TRUE(list.add("Strings", "Str.", 1, 0, 1));
    ASSERT_TRUE(list.add("Violins", "Vl.", 2, 0, 2));
    list.setLastPart(1);
    list.stopGroup(2);
    list.setLastPart(3);
    list.stopGroup(1);
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.item(0)->lastStaff, 3);
    EXPECT_EQ(list.item(1)->lastStaff, 1);
    EXPECT_EQ(list.item(0)->name, "Strings");
    EXPECT_EQ(list.item(1)->abbreviation, "Vl.");
    EXPECT_EQ(list.item(1)->symbol, 2);
    EXPECT_FALSE(list.item(0)->isOpen());
    EXPECT_EQ(list.item(0)->getNumber(), 0);
}

TEST(PartGroups, StopGroupClosesEveryOpenGroupWithTheNumber) {
    CScorePartGroupList list;
    ASSERT_TRUE(list.add("A", "", 0, 0, 1));
    ASSERT_TRUE(list.add("B", "", 0, 2, 1));
    ASSERT_TRUE(list.add("C", "", 0, 2, 2));
    list.stopGroup(1);
    EXPECT_FALSE(list.item(0)->isOpen());
    EXPECT_FALSE(list.item(1)->isOpen());
    EXPECT_TRUE(list.item(2)->isOpen());
    EXPECT_EQ(list.item(2)->getNumber(), 2);
    list.stopGroup(0);  // the closed groups now carry number 0, but are not reopened or touched
    EXPECT_TRUE(list.item(2)->isOpen());
}

TEST(PartGroups, MiddleStaff) {
    const CScorePartGroupList list = makeGroups({{2, 5}, {2, 4}, {7, 7}, {0, 9}});
    EXPECT_EQ(list.middle(0), 3);
    EXPECT_EQ(list.middle(1), 3);
    EXPECT_EQ(list.middle(2), 7);
    EXPECT_EQ(list.middle(3), 4);
    EXPECT_EQ(list.middle(4), -1);
    EXPECT_EQ(list.middle(-1), -1);

    const struct {
        int32_t staff;
        int32_t group;
    } cases[] = {{3, 0}, {7, 2}, {4, 3}, {5, -1}, {-1, -1}};
    for (const auto& c : cases) EXPECT_EQ(list.findByMiddle(c.staff), c.group) << c.staff;
    EXPECT_EQ(CScorePartGroupList().findByMiddle(0), -1);

    const CScorePartGroupList extreme = makeGroups({{INT_MIN, INT_MAX}});
    EXPECT_EQ(extreme.middle(0), -1);  // no overflow in last - first
}

TEST(PartGroups, IsGroupEnd) {
    const CScorePartGroupList list = makeGroups({{1, 3}, {5, 8}});
    const struct {
        int32_t staff;
        bool end;
    } cases[] = {
        {7, false}, {5, false}, {1, false},  // inside a group, not its last staff
        {4, true},  {0, true},  {9, true},   // in no group
        {3, true},  {8, true},
    };
    for (const auto& c : cases) EXPECT_EQ(list.isGroupEnd(c.staff), c.end) << c.staff;
    EXPECT_TRUE(CScorePartGroupList().isGroupEnd(0));

    // The last staff of an inner group ends a group even inside an outer one.
    const CScorePartGroupList nested = makeGroups({{0, 5}, {0, 2}});
    EXPECT_TRUE(nested.isGroupEnd(2));
    EXPECT_FALSE(nested.isGroupEnd(3));
}

TEST(PartGroups, ItemAccessAndFree) {
    CScorePartGroupList list = makeGroups({{0, 1}, {2, 3}});
    EXPECT_EQ(list.item(2), nullptr);
    EXPECT_EQ(list.item(-1), nullptr);
    list.item(1)->setNumber(4);
    list.item(1)->open = 1;
    list.item(1)->resetNumber();
    EXPECT_EQ(list.item(1)->getNumber(), 0);
    EXPECT_FALSE(list.item(1)->isOpen());

    scFreePartGroupList(list);
    EXPECT_EQ(list.count(), 0);
    EXPECT_TRUE(list.isGroupEnd(0));
    EXPECT_TRUE(list.add("again", "", 0, 0, 1));
}

TEST(PartGroups, StaffTablesFreeEveryArray) {
    CScoreStaffTables tables;
    for (auto& table : tables.tables) table.assign(3, 7);
    tables.free();
    for (const auto& table : tables.tables) EXPECT_TRUE(table.empty());
}

}  // namespace
}  // namespace scorecore
