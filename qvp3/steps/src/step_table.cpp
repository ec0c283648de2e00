#include "qvp3_steps/step_table.h"

namespace qvp3 {

namespace {

// In StepCategory order; the codes are the project's (stpCategoryCode).
constexpr std::array<StepInfo, kStepCount> kSteps{{
    // title, label, header image, description, alternative, profiles, notifier, job
    {507, 284, 384, 600, 0, false, true, false},
    {508, 60192, 385, 601, 0, true, true, false},
    {509, 60193, 386, 602, 0, true, true, false},
    {510, 60194, 387, 603, 0, true, true, false},
    {511, 60195, 388, 604, 0, true, true, false},
    {512, 60196, 389, 605, 0, true, true, false},
    {513, 60197, 390, 606, 122, true, true, false},
    {514, 60198, 391, 607, 0, true, true, false},
    {515, 60199, 392, 608, 0, true, true, false},
    {516, 60200, 393, 609, 122, true, true, false},
    {517, 60201, 394, 610, 352, true, true, false},
    {518, 60204, 396, 612, 0, true, true, false},
    {519, 60205, 397, 613, 0, true, true, false},
    {520, 60206, 398, 614, 0, false, false, true},
    {521, 60207, 300, 615, 0, true, true, false},
    {522, 60208, 301, 616, 0, false, false, true},
    {523, 60209, 302, 617, 0, true, false, true},
    {524, 60210, 303, 618, 0, false, false, false},
}};

}  // namespace

const StepInfo* stpStepInfo(int category) {
    if (category < 0 || category >= kStepCount) return nullptr;
    return &kSteps[static_cast<std::size_t>(category)];
}

}  // namespace qvp3
