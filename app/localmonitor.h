#pragma once

#include <QObject>

#include <cstdint>
#include <functional>

namespace ostrel {

// The local key monitor: an application-wide filter that hands every press
// of Space in this application to `matcher` (flags, X time) and consumes the
// press when the matcher says it was the hot key.
class LocalMonitor final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LocalMonitor)

public:
    using Matcher = std::function<bool(std::uint32_t flags, std::uint32_t time)>;
    explicit LocalMonitor(Matcher matcher);
    ~LocalMonitor() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Matcher m_matcher;
};

} // namespace ostrel
