#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QString>

namespace ostrel {

// A 16×16 borderless cross that stops the task it stands for. It lights up
// under the pointer while its window is active; clicking works either way.
// It takes no keyboard focus, so clicking it leaves the query field focused.
class HoverButton final : public QAbstractButton {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HoverButton)

public:
    explicit HoverButton(QWidget *parent = nullptr);

    // The task this button stands for.
    QString identifier() const;
    void setIdentifier(const QString &identifier);

    QColor tint() const;
    // An invalid colour is ignored.
    void setTint(QColor tint);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QString m_identifier;
    QColor m_tint;
};

} // namespace ostrel
