#include "e2esteps.h"

#include <QtTest>

using namespace UiDriver;

namespace E2e {

bool fillLogin(QQuickWindow *login, const QString &host, int port, const QString &user, const QString &password)
{
    return typeInto(item(login, "txtHost"), host) && typeInto(item(login, "txtPort"), QString::number(port)) &&
           typeInto(item(login, "txtUsername"), user) && typeInto(item(login, "txtPassword"), password);
}

bool signIn(AppRun &app, const SiteSim &sim)
{
    QQuickWindow *login = app.loginWindow();
    if (!login || !QTest::qWaitForWindowExposed(login))
        return false;
    if (!fillLogin(login, sim.esHost(), sim.esPort(), sim.username(), sim.password()))
        return false;
    if (!click(item(login, "btnLogin")))
        return false;
    return QTest::qWaitFor([login] { return !login->isVisible(); }, 30000);
}

bool waitForGateways(AppRun &app)
{
    QQuickItem *gateways = item(app.mainWindow(), "lstGateways");
    return gateways && QTest::qWaitFor([gateways] { return gateways->property("count").toInt() > 0; }, 15000);
}

QObject *waitForMessage(QQuickWindow *window, int timeoutMs, const QString &name)
{
    QObject *messager = object(window, name);
    if (!messager)
        return nullptr;
    if (!QTest::qWaitFor([messager] { return messager->property("opened").toBool(); }, timeoutMs))
        return nullptr;
    return messager;
}

bool closeMessage(QObject *messager, const QString &button)
{
    auto *content = messager->property("contentItem").value<QQuickItem *>();
    if (!click(itemWithText(content, button)))
        return false;
    return QTest::qWaitFor([messager] { return !messager->property("visible").toBool(); }, 3000);
}

QQuickItem *streamRow(QQuickWindow *main, const QString &name)
{
    QQuickItem *list = item(main, "lstStreams");
    if (!list)
        return nullptr;
    const QList<QQuickItem *> rows = visibleItems(list, "streamDelegate");
    for (QQuickItem *row : rows) {
        QQuickItem *box = item(row, "chkStream");
        if (box && box->property("text").toString().startsWith(name))
            return row;
    }
    return nullptr;
}

QQuickItem *gatewayCheckBox(QQuickWindow *main, const QString &name)
{
    QQuickItem *list = item(main, "lstGateways");
    if (!list)
        return nullptr;
    const QList<QQuickItem *> boxes = visibleItems(list, "chkGateway");
    for (QQuickItem *box : boxes) {
        if (box->property("text").toString() == name)
            return box;
    }
    return nullptr;
}

QQuickItem *openStreamMenu(QQuickItem *row)
{
    QQuickItem *area = item(row, "areaContextMenu");
    if (!area)
        return nullptr;
    QObject *menu = row->findChild<QObject *>(QStringLiteral("streamCtxMenu"));
    if (!menu) {
        qWarning("openStreamMenu: no menu in the row");
        return nullptr;
    }
    // The row is as wide as the list, so there is room beside the check box.
    QQuickItem *box = item(row, "chkStream");
    if (!box || area->width() <= box->width()) {
        qWarning("openStreamMenu: the row is %g wide, its check box %g", area->width(), box ? box->width() : 0.0);
        return nullptr;
    }
    // Beside the check box: the mouse area under it takes the click.
    // Halfway between the check box and the list's scroll bar.
    if (!clickAt(area, QPointF((box->width() + area->width() - 20) / 2, area->height() / 2)))
        return nullptr;
    if (!QTest::qWaitFor([menu] { return menu->property("opened").toBool(); }, 3000)) {
        qWarning("openStreamMenu: the menu did not open (visible %d, area %gx%g at %g,%g, box %g)",
                 menu->property("visible").toBool(), area->width(), area->height(), area->mapToScene(QPointF()).x(),
                 area->mapToScene(QPointF()).y(), box->width());
        return nullptr;
    }
    if (auto *entry = menu->findChild<QQuickItem *>(QStringLiteral("menuAddView")))
        return entry;
    // The menu keeps its entries in the list it shows.
    return item(menu->property("contentItem").value<QQuickItem *>(), QStringLiteral("menuAddView"));
}

void closeMenu(QQuickItem *row)
{
    QObject *menu = row->findChild<QObject *>(QStringLiteral("streamCtxMenu"));
    QTest::keyClick(row->window(), Qt::Key_Escape);
    if (menu)
        (void)QTest::qWaitFor([menu] { return !menu->property("visible").toBool(); }, 3000);
}

bool openDefish(AppRun &app, const QString &streamName)
{
    QQuickItem *row = streamRow(app.mainWindow(), streamName);
    QQuickItem *addView = row ? openStreamMenu(row) : nullptr;
    if (!addView || !addView->isEnabled())
        return false;
    if (!click(addView))
        return false;
    QQuickWindow *defish = app.defishWindow();
    return defish && QTest::qWaitFor([defish] { return defish->isExposed(); }, 5000) &&
           QTest::qWaitFor([&app] { return defishContent(app) != nullptr; }, 5000);
}

QQuickItem *defishContent(AppRun &app)
{
    QQuickWindow *defish = app.defishWindow();
    QQuickItem *loader = defish ? item(defish, "loaderDefish") : nullptr;
    return loader ? loader->property("item").value<QQuickItem *>() : nullptr;
}

bool waitForLiveVideo(AppRun &app, int timeoutMs)
{
    return QTest::qWaitFor(
        [&app] {
            QQuickItem *content = defishContent(app);
            if (!content)
                return false;
            QObject *defished = content->findChild<QObject *>(QStringLiteral("consDefished"));
            // Consumer.Playing is 2.
            return defished && defished->property("state").toInt() == 2;
        },
        timeoutMs);
}

} // namespace E2e
