#include "uidriver.h"

#include <QGuiApplication>
#include <QStyleHints>
#include <QtTest>

namespace UiDriver {

QObject *object(QObject *root, const QString &objectName)
{
    if (!root)
        return nullptr;
    if (root->objectName() == objectName)
        return root;
    return root->findChild<QObject *>(objectName);
}

QQuickItem *item(QObject *root, const QString &objectName)
{
    if (!root)
        return nullptr;
    if (auto *self = qobject_cast<QQuickItem *>(root); self && self->objectName() == objectName)
        return self;
    if (auto *found = root->findChild<QQuickItem *>(objectName))
        return found;
    // Delegates and popup contents are reachable only through the item tree.
    QQuickItem *start = qobject_cast<QQuickItem *>(root);
    if (auto *win = qobject_cast<QQuickWindow *>(root))
        start = win->contentItem();
    if (!start)
        return nullptr;
    const QList<QQuickItem *> found = visibleItems(start, objectName);
    return found.isEmpty() ? nullptr : found.first();
}

QQuickWindow *window(QObject *root, const QString &objectName)
{
    if (auto *self = qobject_cast<QQuickWindow *>(root); self && self->objectName() == objectName)
        return self;
    return root ? root->findChild<QQuickWindow *>(objectName) : nullptr;
}

static void collect(QQuickItem *root, const QString &objectName, QList<QQuickItem *> &out)
{
    if (!root || !root->isVisible())
        return;
    if (root->objectName() == objectName)
        out.append(root);
    const QList<QQuickItem *> children = root->childItems();
    for (QQuickItem *child : children)
        collect(child, objectName, out);
}

QList<QQuickItem *> visibleItems(QQuickItem *root, const QString &objectName)
{
    QList<QQuickItem *> out;
    collect(root, objectName, out);
    return out;
}

QQuickItem *itemWithText(QQuickItem *root, const QString &text)
{
    if (!root || !root->isVisible())
        return nullptr;
    const QVariant value = root->property("text");
    if (value.isValid() && value.toString() == text)
        return root;
    const QList<QQuickItem *> children = root->childItems();
    for (QQuickItem *child : children) {
        if (QQuickItem *found = itemWithText(child, text))
            return found;
    }
    return nullptr;
}

bool clickAt(QQuickItem *item, const QPointF &localPos)
{
    if (!item || !item->window() || !item->isVisible())
        return false;
    const QPoint scenePos = item->mapToScene(localPos).toPoint();
    QTest::mouseClick(item->window(), Qt::LeftButton, Qt::NoModifier, scenePos);
    return true;
}

bool doubleClickAt(QQuickItem *item, const QPointF &localPos)
{
    if (!item || !item->window() || !item->isVisible())
        return false;
    const QPoint scenePos = item->mapToScene(localPos).toPoint();
    QTest::mouseDClick(item->window(), Qt::LeftButton, Qt::NoModifier, scenePos);
    return true;
}

bool dragAlong(QQuickItem *item, const QPointF &from, const QPointF &to, int steps)
{
    if (!item || !item->window() || !item->isVisible() || steps < 1)
        return false;
    QQuickWindow *win = item->window();
    const QPointF start = item->mapToScene(from);
    const QPointF end = item->mapToScene(to);
    QTest::mousePress(win, Qt::LeftButton, Qt::NoModifier, start.toPoint());
    for (int i = 1; i <= steps; ++i)
        QTest::mouseMove(win, (start + (end - start) * (qreal(i) / steps)).toPoint(), 10);
    QTest::mouseRelease(win, Qt::LeftButton, Qt::NoModifier, end.toPoint(), 10);
    return true;
}

bool wheelAt(QQuickItem *item, const QPointF &localPos, int notches)
{
    if (!item || !item->window() || !item->isVisible())
        return false;
    const QPointF scenePos = item->mapToScene(localPos);
    const QPointF globalPos = item->window()->mapToGlobal(scenePos.toPoint());
    const int step = notches < 0 ? -120 : 120;
    for (int i = 0; i < qAbs(notches); ++i) {
        QWheelEvent event(scenePos, globalPos, QPoint(), QPoint(0, step), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QGuiApplication::sendEvent(item->window(), &event);
    }
    return true;
}

bool click(QQuickItem *item)
{
    if (!item)
        return false;
    return clickAt(item, QPointF(item->width() / 2, item->height() / 2));
}

bool typeInto(QQuickItem *field, const QString &text, const QString &expected)
{
    const QString result = expected.isNull() ? text : expected;
    // Under load a key press can reach the field before it has focus; check what
    // the field holds and type again if it differs.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!click(field))
            return false;
        if (!QTest::qWaitFor([field] { return field->hasActiveFocus(); }, 2000))
            continue;
        QTest::keyClick(field->window(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field->window(), Qt::Key_Delete);
        for (const QChar c : text)
            QTest::keyClick(field->window(), c.toLatin1());
        if (field->property("text").toString() == result)
            return true;
    }
    return false;
}

bool chooseInCombo(QQuickItem *combo, const QString &text)
{
    if (!combo)
        return false;
    auto *popup = combo->property("popup").value<QObject *>();
    if (!popup)
        return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (combo->property("currentText").toString() == text && !popup->property("visible").toBool())
            return true;
        // A list still closing from the last attempt takes no clicks.
        if (!QTest::qWaitFor([popup] { return !popup->property("visible").toBool(); }, 3000))
            continue;
        // Apart from the last click in time and place, so no double click is made.
        QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50);
        if (!click(combo))
            return false;
        if (!QTest::qWaitFor([popup] { return popup->property("opened").toBool(); }, 3000))
            continue;
        auto *content = popup->property("contentItem").value<QQuickItem *>();
        QQuickItem *entry = nullptr;
        const bool listed = QTest::qWaitFor(
            [&entry, content, &text] { return (entry = itemWithText(content, text)) != nullptr; }, 3000);
        if (!listed || !click(entry))
            continue;
        const bool chosen = QTest::qWaitFor(
            [combo, popup, &text] {
                return combo->property("currentText").toString() == text && !popup->property("visible").toBool();
            },
            3000);
        if (chosen)
            return true;
    }
    return combo->property("currentText").toString() == text && !popup->property("visible").toBool();
}

void key(QQuickItem *item, Qt::Key key)
{
    QTest::keyClick(item->window(), key);
}

bool dragSlider(QQuickItem *slider, qreal fraction)
{
    if (!slider || !slider->window())
        return false;
    QQuickWindow *win = slider->window();
    auto *handle = slider->property("handle").value<QQuickItem *>();
    const QPointF from = handle ? handle->mapToScene(QPointF(handle->width() / 2, handle->height() / 2))
                                : slider->mapToScene(QPointF(slider->width() / 2, slider->height() / 2));
    const qreal pad = slider->property("leftPadding").toReal();
    const qreal track = slider->width() - pad - slider->property("rightPadding").toReal();
    const QPointF to = slider->mapToScene(QPointF(pad + fraction * track, slider->height() / 2));
    QTest::mousePress(win, Qt::LeftButton, Qt::NoModifier, from.toPoint());
    const int steps = 8;
    for (int i = 1; i <= steps; ++i) {
        const QPointF p = from + (to - from) * (qreal(i) / steps);
        QTest::mouseMove(win, p.toPoint(), 10);
    }
    QTest::mouseRelease(win, Qt::LeftButton, Qt::NoModifier, to.toPoint(), 10);
    return true;
}

} // namespace UiDriver
