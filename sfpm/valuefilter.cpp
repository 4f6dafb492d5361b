#include "sfpm/valuefilter.h"

namespace qqsfpm {

ValueFilter::ValueFilter(QObject *parent) : RoleFilter(parent) {}

ValueFilter::~ValueFilter() = default;

QVariant ValueFilter::value() const
{
    return m_value;
}

void ValueFilter::setValue(const QVariant &value)
{
    if (m_value == value && m_value.isValid() == value.isValid())
        return;
    m_value = value;
    emit valueChanged();
    invalidate();
}

bool ValueFilter::filterRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const
{
    return !m_value.isValid() || m_value == sourceData(sourceIndex, proxyModel);
}

} // namespace qqsfpm
