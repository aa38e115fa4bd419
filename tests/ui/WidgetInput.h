#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

// What a user's hand does to a widget, delivered as the events Qt would send.
namespace WidgetInput {

inline void Mouse(QWidget* widget, QEvent::Type type, Qt::MouseButton button = Qt::LeftButton)
{
    const QPointF local(widget->width() / 2.0, widget->height() / 2.0);
    const QPointF global = widget->mapToGlobal(local);
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? button : Qt::NoButton;
    QMouseEvent event(type, local, global, button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

inline void Press(QWidget* widget)
{
    Mouse(widget, QEvent::MouseButtonPress);
}
inline void Release(QWidget* widget)
{
    Mouse(widget, QEvent::MouseButtonRelease);
}

inline void Key(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                const QString& text = QString())
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(widget, &release);
}

} // namespace WidgetInput
