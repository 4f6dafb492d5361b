#include "defish/dewraparea.h"

DewrapArea::DewrapArea(QQuickItem *parent) : QQuickItem(parent) {}

DewrapArea::~DewrapArea() = default;
