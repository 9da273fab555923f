#pragma once
// Runs a box's rule steps (rules::changeSteps, rules::leaveStep) on the box.

#include "core/rules/box_rules.h"
#include "gui/controls/text_box.h"

#include <span>

namespace veloxa::dds {

// Runs a box's steps in order, each reading the box (and the clock box, when
// given) anew; each correction is an assignment, so the box's own handling
// runs again nested.
void runSteps(controls::TextBox &box, std::span<const rules::BoxStep> steps, const controls::TextBox *clock = nullptr);
void runStep(controls::TextBox &box, rules::BoxStep step, const controls::TextBox *clock = nullptr);

} // namespace veloxa::dds
