#include "video/producer.h"

Producer::Producer(QObject *parent) : QObject(parent) {}

Producer::~Producer() = default;
