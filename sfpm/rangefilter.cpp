#include "sfpm/rangefilter.h"

#include "sfpm/qqmlsortfilterproxymodel.h"

namespace qqsfpm {

RangeFilter::RangeFilter(QObject *parent) : RoleFilter(parent) {}

RangeFilter::~RangeFilter() = default;

QVariant RangeFilter::minimumValue() const
{
    return m_minimumValue;
}

void RangeFilter::setMinimumValue(const QVariant &minimumValue)
{
    if (m_minimumValue.isValid() == minimumValue.isValid() && m_minimumValue == minimumValue)
        return;
    m_minimumValue = minimumValue;
    emit minimumValueChanged();
    invalidate();
}

bool RangeFilter::minimumInclusive() const
{
    return m_minimumInclusive;
}

void RangeFilter::setMinimumInclusive(bool minimumInclusive)
{
    if (m_minimumInclusive == minimumInclusive)
        return;
    m_minimumInclusive = minimumInclusive;
    emit minimumInclusiveChanged();
    invalidate();
}

QVariant RangeFilter::maximumValue() const
{
    return m_maximumValue;
}

void RangeFilter::setMaximumValue(const QVariant &maximumValue)
{
    if (m_maximumValue.isValid() == maximumValue.isValid() && m_maximumValue == maximumValue)
        return;
    m_maximumValue = maximumValue;
    emit maximumValueChanged();
    invalidate();
}

bool RangeFilter::maximumInclusive() const
{
    return m_maximumInclusive;
}

void RangeFilter::setMaximumInclusive(bool maximumInclusive)
{
    if (m_maximumInclusive == maximumInclusive)
        return;
    m_maximumInclusive = maximumInclusive;
    emit maximumInclusiveChanged();
    invalidate();
}

bool RangeFilter::filterRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const
{
    const QVariant value = sourceData(sourceIndex, proxyModel);
    if (m_minimumValue.isValid()) {
        const int c = QQmlSortFilterProxyModel::compareValues(value, m_minimumValue);
        if (c < 0 || (c == 0 && !m_minimumInclusive))
            return false;
    }
    if (m_maximumValue.isValid()) {
        const int c = QQmlSortFilterProxyModel::compareValues(value, m_maximumValue);
        if (c > 0 || (c == 0 && !m_maximumInclusive))
            return false;
    }
    return true;
}

} // namespace qqsfpm
