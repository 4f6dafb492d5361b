#include "repo/localdatabase.h"

LocalDatabase::LocalDatabase(QObject *parent) : QObject(parent), Singleton<LocalDatabase>(this) {}

LocalDatabase::~LocalDatabase() = default;
