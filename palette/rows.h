#pragma once

#include "bridge/result.h"

namespace ostrel {

// The hint shown whenever there is nothing else to show.
Results idleRows();

// What the list shows in the palette's standing state: every task row first,
// then the answer rows that do not stand for a task (those reach the screen
// through the task list), or the idle hint when both leave nothing.
Results composeRows(const Results &tasks, const Results &answerRows);

} // namespace ostrel
