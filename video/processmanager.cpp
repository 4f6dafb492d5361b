#include "video/processmanager.h"

ProcessManager::ProcessManager(QObject *parent) : QObject(parent) {}

ProcessManager::~ProcessManager() = default;
