#pragma once

#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace ostrel {

// One row of the palette's list. Rows are plain values: copied into and out of
// the palette's lists, never shared.
struct Result {
    Result() = default;
    Result(QString title_, QString subtitle_, bool dim_ = false, bool busy_ = false,
           std::optional<QString> taskId_ = std::nullopt)
        : title(std::move(title_))
        , subtitle(std::move(subtitle_))
        , dim(dim_)
        , busy(busy_)
        , taskId(std::move(taskId_))
    {
    }

    QString title;
    QString subtitle;
    bool dim = false;
    bool busy = false;
    // Absent means the row stands for no task; an empty id is still an id.
    std::optional<QString> taskId;

    friend bool operator==(const Result &, const Result &) = default;
};

using Results = QList<Result>;

} // namespace ostrel
