// The part groups of a score's part list (brackets and braces joining staves,
// counted as staff indexes), and the per-staff table holder of the document.
#pragma once

#include <array>
#include <cstdint>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace scorecore {

struct CScorePartGroup {
    std::string name;
    std::string abbreviation;
    int32_t symbol = 0;
    int32_t firstStaff = 0;
    int32_t lastStaff = 0;
    int32_t reserved = 0;
    int32_t number = 0;
    uint8_t open = 0;  // 1 while the group is open

    bool isOpen() const { return open != 0; }
    int32_t getNumber() const { return number; }
    void setNumber(int32_t value) { number = value; }
    // Closes the group and clears its number, so a later group may reuse it.
    void resetNumber() {
        number = 0;
        open = 0;
    }
};

class CScorePartGroupList {
public:
    CScorePartGroupList() = default;

    // Appends an open group starting at firstStaff (last staff 0 until
    // setLastPart runs); false when memory cannot be had.
    bool add(std::string_view name, std::string_view abbreviation, int32_t symbol,
             int32_t firstStaff, int32_t number);
    // Closes every open group with that number.
    void stopGroup(int32_t number);
    // Every open group now reaches to this staff.
    void setLastPart(int32_t staff);

    // Index of the first group whose middle staff is `staff`; -1 for none.
    int32_t findByMiddle(int32_t staff) const;
    // first + (last - first) / 2 of the group; -1 for an unknown index.
    int32_t middle(int32_t group) const;
    // For the first group whose range first..last holds the staff: whether the
    // staff is the last staff of any group. True when no group holds it.
    bool isGroupEnd(int32_t staff) const;

    int32_t count() const { return static_cast<int32_t>(items_.size()); }
    // The group at that index, or null.
    CScorePartGroup* item(int32_t index);
    const CScorePartGroup* item(int32_t index) const;

    friend void scFreePartGroupList(CScorePartGroupList& list);

private:
    std::vector<CScorePartGroup> items_;
};

// Drops every group; the count becomes 0.
void scFreePartGroupList(CScorePartGroupList& list);

// Four per-staff arrays the document owns beside the part groups.
class CScoreStaffTables {
public:
    static constexpr std::size_t kTableCount = 4;

    CScoreStaffTables() = default;  // four empty arrays

    // Starts over with four empty arrays, as a new record has.
    void create() { free(); }
    // Releases every array.
    void free();

    std::array<std::vector<int32_t>, kTableCount> tables;
};

}  // namespace scorecore
