#include "sfpm/filtercontainer.h"

#include "sfpm/filter.h"

#include <QtQml>

namespace qqsfpm {

FilterContainer::FilterContainer(QObject *self) : m_self(self) {}

FilterContainer::~FilterContainer() = default;

const QList<Filter *> &FilterContainer::filters() const
{
    return m_filters;
}

void FilterContainer::appendFilter(Filter *filter)
{
    if (!filter) {
        qmlWarning(m_self) << "Ignoring a null filter";
        return;
    }
    if (m_filters.contains(filter)) {
        qmlWarning(m_self) << "Ignoring a filter that is already in the list";
        return;
    }
    m_filters.append(filter);
    QObject::connect(filter, &QObject::destroyed, m_self, [this, filter] { dropFilter(filter); });
    onFilterAppended(filter);
}

void FilterContainer::removeFilter(Filter *filter)
{
    if (!m_filters.removeOne(filter))
        return;
    QObject::disconnect(filter, nullptr, m_self, nullptr);
    onFilterRemoved(filter);
}

void FilterContainer::clearFilters()
{
    const QList<Filter *> old = m_filters;
    m_filters.clear();
    for (Filter *filter : old) {
        QObject::disconnect(filter, nullptr, m_self, nullptr);
        onFilterRemoved(filter);
    }
}

void FilterContainer::dropFilter(Filter *filter)
{
    // Called from QObject's destructor of `filter`: only its QObject part is alive.
    if (!m_filters.removeOne(filter))
        return;
    QObject::disconnect(filter, nullptr, m_self, nullptr);
    onFilterRemoved(filter);
}

QQmlListProperty<Filter> FilterContainer::filtersListProperty()
{
    return QQmlListProperty<Filter>(m_self, this, &FilterContainer::appendFilterItem, &FilterContainer::filterItemCount,
                                    &FilterContainer::filterItemAt, &FilterContainer::clearFilterItems,
                                    &FilterContainer::replaceFilterItem, &FilterContainer::removeLastFilterItem);
}

void FilterContainer::appendFilterItem(QQmlListProperty<Filter> *list, Filter *filter)
{
    static_cast<FilterContainer *>(list->data)->appendFilter(filter);
}

int FilterContainer::filterItemCount(QQmlListProperty<Filter> *list)
{
    return static_cast<FilterContainer *>(list->data)->m_filters.size();
}

Filter *FilterContainer::filterItemAt(QQmlListProperty<Filter> *list, int index)
{
    const auto *container = static_cast<FilterContainer *>(list->data);
    return container->m_filters.value(index, nullptr);
}

void FilterContainer::clearFilterItems(QQmlListProperty<Filter> *list)
{
    static_cast<FilterContainer *>(list->data)->clearFilters();
}

void FilterContainer::replaceFilterItem(QQmlListProperty<Filter> *list, int index, Filter *filter)
{
    auto *container = static_cast<FilterContainer *>(list->data);
    if (index < 0 || index >= container->m_filters.size())
        return;
    // Rebuild the tail so that declaration order is kept.
    QList<Filter *> tail = container->m_filters.mid(index);
    for (Filter *old : tail)
        container->removeFilter(old);
    tail[0] = filter;
    for (Filter *f : tail)
        container->appendFilter(f);
}

void FilterContainer::removeLastFilterItem(QQmlListProperty<Filter> *list)
{
    auto *container = static_cast<FilterContainer *>(list->data);
    if (!container->m_filters.isEmpty())
        container->removeFilter(container->m_filters.last());
}

} // namespace qqsfpm
