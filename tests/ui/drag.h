#pragma once

#include <QCoreApplication>
#include <QMouseEvent>
#include <QWidget>

namespace dialmend {

// Presses the left button at `from` in `target`, moves to `to` with it held, and lets go there,
// as a user selecting text does.
inline void Drag(QWidget* target, QPoint from, QPoint to) {
  const auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons held) {
    QMouseEvent event(type, at, target->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
  };
  send(QEvent::MouseButtonPress, from, Qt::LeftButton);
  send(QEvent::MouseMove, to, Qt::LeftButton);
  send(QEvent::MouseButtonRelease, to, Qt::NoButton);
}

}  // namespace dialmend
