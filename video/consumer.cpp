#include "video/consumer.h"

Consumer::Consumer(QObject *parent) : QObject(parent) {}

Consumer::~Consumer() = default;
