#include "sfpm/indexfilter.h"

#include "sfpm/qqmlsortfilterproxymodel.h"

namespace qqsfpm {

namespace {

bool sameBound(const QVariant &a, const QVariant &b)
{
    return a.isValid() == b.isValid() && a == b;
}

} // namespace

IndexFilter::IndexFilter(QObject *parent) : Filter(parent) {}

IndexFilter::~IndexFilter() = default;

QVariant IndexFilter::minimumIndex() const
{
    return m_minimumIndex;
}

void IndexFilter::setMinimumIndex(const QVariant &minimumIndex)
{
    if (sameBound(m_minimumIndex, minimumIndex))
        return;
    m_minimumIndex = minimumIndex;
    emit minimumIndexChanged();
    invalidate();
}

QVariant IndexFilter::maximumIndex() const
{
    return m_maximumIndex;
}

void IndexFilter::setMaximumIndex(const QVariant &maximumIndex)
{
    if (sameBound(m_maximumIndex, maximumIndex))
        return;
    m_maximumIndex = maximumIndex;
    emit maximumIndexChanged();
    invalidate();
}

bool IndexFilter::filterRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const
{
    Q_UNUSED(proxyModel)
    const int row = sourceIndex.row();
    const int count = sourceIndex.model() ? sourceIndex.model()->rowCount(sourceIndex.parent()) : 0;
    bool ok = false;
    if (m_minimumIndex.isValid()) {
        int minimum = m_minimumIndex.toInt(&ok);
        if (ok) {
            if (minimum < 0)
                minimum += count;
            if (row < minimum)
                return false;
        }
    }
    if (m_maximumIndex.isValid()) {
        int maximum = m_maximumIndex.toInt(&ok);
        if (ok) {
            if (maximum < 0)
                maximum += count;
            if (row > maximum)
                return false;
        }
    }
    return true;
}

} // namespace qqsfpm
