#pragma once

// Operator steps shared by the end-to-end tests: each is done through the
// windows' controls with mouse clicks and key presses.
#include "support/apprun.h"
#include "support/sitesim.h"
#include "support/uidriver.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QString>

namespace E2e {

// Fills the login form (host, port, user name, password) by typing.
bool fillLogin(QQuickWindow *login, const QString &host, int port, const QString &user, const QString &password);

// Fills the form for the simulated site, clicks "Login" and waits (bounded) until
// the login window has closed.
bool signIn(AppRun &app, const SiteSim &sim);
// Waits (bounded) until the main window lists at least one gateway.
bool waitForGateways(AppRun &app);

// A window's message popup (by default the login window's) once it is open
// (bounded wait), or null.
QObject *waitForMessage(QQuickWindow *window, int timeoutMs = 15000, const QString &name = QStringLiteral("messager"));
// Presses the popup's button showing text and waits until the popup is gone.
bool closeMessage(QObject *messager, const QString &button = QStringLiteral("Close"));

// Visible stream delegate whose check box text begins with name, or null.
QQuickItem *streamRow(QQuickWindow *main, const QString &name);
QQuickItem *gatewayCheckBox(QQuickWindow *main, const QString &name);

// Opens the stream row's context menu with a click beside its check box; returns
// the menu's "Add view" item once the menu is open, or null.
QQuickItem *openStreamMenu(QQuickItem *row);
// Escape closes an open menu.
void closeMenu(QQuickItem *row);

// "Add view" on a stream: the defish window shows (bounded wait).
bool openDefish(AppRun &app, const QString &streamName);

// Current loaded defish content, or null.
QQuickItem *defishContent(AppRun &app);

// Waits until both video consumers of the defish window play.
bool waitForLiveVideo(AppRun &app, int timeoutMs = 20000);

} // namespace E2e
