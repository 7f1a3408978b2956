#include "palette/rows.h"

using namespace Qt::StringLiterals;

namespace ostrel {

Results idleRows()
{
    return {
        Result{u"Ask anything"_s,
               u"\"what apps are open\"   \"12*89\"   \"left half\"   \"how is my battery\""_s}};
}

Results composeRows(const Results &tasks, const Results &answerRows)
{
    Results rows = tasks;
    for (const Result &row : answerRows) {
        if (!row.taskId)
            rows.append(row);
    }
    return rows.isEmpty() ? idleRows() : rows;
}

} // namespace ostrel
