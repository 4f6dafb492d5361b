#pragma once

#include <QPointer>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>

// Drives loaded QML documents the way an operator does: finds controls by
// objectName or visible text and sends them real mouse clicks and key presses.
namespace UiDriver {

// Searches the QObject tree under root (windows, popups and items) for an object
// of the given objectName that is a visual item.
QQuickItem *item(QObject *root, const QString &objectName);
QQuickWindow *window(QObject *root, const QString &objectName);
QObject *object(QObject *root, const QString &objectName);

// All visual items under root (following child items) that are visible and have
// the given objectName.
QList<QQuickItem *> visibleItems(QQuickItem *root, const QString &objectName);

// First visible item under root whose "text" property equals text.
QQuickItem *itemWithText(QQuickItem *root, const QString &text);

// Clicks the centre of a visible item, or the given point in its own coordinates.
bool click(QQuickItem *item);
bool clickAt(QQuickItem *item, const QPointF &localPos);

// Double-clicks the given point of a visible item, in its own coordinates.
bool doubleClickAt(QQuickItem *item, const QPointF &localPos);

// Drags with the left button from one point of a visible item to another (its own coordinates), in
// steps moves.
bool dragAlong(QQuickItem *item, const QPointF &from, const QPointF &to, int steps = 8);

// Turns the mouse wheel over the given point of a visible item by notches (positive: away from the
// user), one event per notch.
bool wheelAt(QQuickItem *item, const QPointF &localPos, int notches);

// Gives a text field focus by clicking it, selects everything and types text; true once the field
// holds expected (text itself when not given: a validator may drop some of the keys).
bool typeInto(QQuickItem *field, const QString &text, const QString &expected = QString());

// Opens a combo box's list by clicking it and clicks the entry showing text;
// true once the box shows that entry and its list has closed. Tries again when
// a click is lost under load.
bool chooseInCombo(QQuickItem *combo, const QString &text);

// Presses one key in the window that shows item.
void key(QQuickItem *item, Qt::Key key);

// Moves a slider by dragging its handle to the given fraction of its track.
bool dragSlider(QQuickItem *slider, qreal fraction);

} // namespace UiDriver
