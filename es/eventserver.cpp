#include "es/eventserver.h"

EventServer::EventServer(QObject *parent) : QObject(parent), Singleton<EventServer>(this) {}

EventServer::~EventServer() = default;
