#pragma once

#include "repo/object.h"

#include <QQmlEngine>

#include <memory>

// Builds an Object the way the import does, for feeding the models directly.
inline std::shared_ptr<Object> makeObject(Object::ObjectType type, const QString &id, const QString &idParent,
                                          const QString &name, const QString &serial, const QString &host = QString(),
                                          int port = 0)
{
    auto object = std::make_shared<Object>();
    QQmlEngine::setObjectOwnership(object.get(), QQmlEngine::CppOwnership);
    object->setId(id);
    object->setIdParent(idParent);
    object->setName(name);
    object->setSerial(serial);
    object->setType(type);
    object->setHost(host);
    object->setPort(port);
    return object;
}

inline std::shared_ptr<Object> makeGateway(const QString &id, const QString &serial, const QString &host = QString(),
                                           int port = 0)
{
    return makeObject(Object::Device, id, QString(), QStringLiteral("Gateway ") + serial, serial, host, port);
}

inline std::shared_ptr<Object> makeStream(const QString &id, const std::shared_ptr<Object> &gateway,
                                          const QString &serial)
{
    return makeObject(Object::Stream, id, gateway ? gateway->id() : QString(), QStringLiteral("Stream ") + serial,
                      serial, gateway ? gateway->host() : QString(), gateway ? gateway->port() : 0);
}
