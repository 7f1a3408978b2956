#pragma once

#include <QObject>
#include <QPointer>

class QKeyEvent;

namespace ostrel {

class Palette;

// The palette's own key handler, watching every key press of the application
// while the palette is shown. Installed by present() and removed by
// dismiss(); holds the palette weakly and passes everything on once it is gone.
class KeyMonitor final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(KeyMonitor)

public:
    explicit KeyMonitor(Palette *palette);
    ~KeyMonitor() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<Palette> m_palette;
};

} // namespace ostrel
