#include "es/objectimport.h"

#include "es/eventserver.h"

void importObjects(const QHash<qint64, korvu::es::Object> &objects, qint64 rootId)
{
    Q_UNUSED(objects)
    Q_UNUSED(rootId)
    if (EventServer *server = EventServer::instance())
        emit server->fetchedObject();
}
