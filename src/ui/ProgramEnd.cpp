#include "ui/ProgramEnd.h"

#include "ui/UiThread.h"

#include <cstdlib>

namespace {
struct State
{
    std::function<void()> closingSteps;
    std::function<void(int)> exitForTests;
};

State& TheState()
{
    static State state;
    return state;
}
} // namespace

void ProgramEnd::SetClosingSteps(std::function<void()> steps)
{
    KESTRELLE_ASSERT_UI_THREAD();
    TheState().closingSteps = std::move(steps);
}

void ProgramEnd::Now()
{
    KESTRELLE_ASSERT_UI_THREAD();
    State& state = TheState();
    // A copy: a closing step may replace the steps (a window going away).
    if (const std::function<void()> steps = state.closingSteps)
        steps();
    // A pass, a mail or a fetch still running is simply ended with the
    // process: the closing steps have written what was asked to be saved.
    if (state.exitForTests)
        state.exitForTests(0);
    else
        std::exit(0);
}

void ProgramEnd::SetExitForTests(std::function<void(int)> exitFunction)
{
    TheState().exitForTests = std::move(exitFunction);
}
