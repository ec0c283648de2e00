#include "qvp3_steps/page_slots.h"

#include <array>

namespace qvp3 {

void stpFillPageSlots(StepPage& page, int category) {
    static constexpr std::array<void (*)(StepPage&), 18> kFill = {
        stpFillSlfSlots,
        stpFillSlsSlots,
        stpFillTrpSlots,
        stpFillChpSlots,
        stpFillVolSlots,
        stpFillPanSlots,
        stpFillPrcSlots,
        stpFillTmpSlots,
        stpFillTppSlots,
        stpFillDynSlots,
        stpFillShvSlots,
        stpFillMetSlots,
        stpFillEinSlots,
        stpFillMdcSlots,
        stpFillPwcSlots,
        stpFillWvcSlots,
        stpFillBrnSlots,
        stpFillClnSlots,
    };
    if (category >= 0 && category < static_cast<int>(kFill.size())) kFill[static_cast<std::size_t>(category)](page);
}

}  // namespace qvp3
