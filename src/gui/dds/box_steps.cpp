#include "gui/dds/box_steps.h"

namespace veloxa::dds {

void runSteps(controls::TextBox &box, std::span<const rules::BoxStep> steps, const controls::TextBox *clock)
{
    for (const rules::BoxStep step : steps)
        runStep(box, step, clock);
}

void runStep(controls::TextBox &box, rules::BoxStep step, const controls::TextBox *clock)
{
    if (step)
        box.correct(step(box.text(), clock ? clock->text() : QString()));
}

} // namespace veloxa::dds
