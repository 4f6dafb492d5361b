#pragma once

#include "es/korvues.h"

#include <QHash>
#include <QtGlobal>

// Turns one fetched object set (keyed by object id; the top-level objects have
// `rootId` as parent) into the program's gateways and streams. Runs on the GUI
// thread, queued there by EventServer::fetchObjects(); its last step emits
// EventServer::fetchedObject().
void importObjects(const QHash<qint64, korvu::es::Object> &objects, qint64 rootId);
