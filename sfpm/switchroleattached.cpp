#include "sfpm/switchroleattached.h"

namespace qqsfpm {

SwitchRoleAttached::SwitchRoleAttached(QObject *parent) : QObject(parent) {}

SwitchRoleAttached::~SwitchRoleAttached() = default;

QVariant SwitchRoleAttached::value() const
{
    return m_value;
}

void SwitchRoleAttached::setValue(const QVariant &value)
{
    if (m_value.isValid() == value.isValid() && m_value == value)
        return;
    m_value = value;
    emit valueChanged();
}

} // namespace qqsfpm
