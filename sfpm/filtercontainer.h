#pragma once

#include <QList>
#include <QObject>
#include <QQmlListProperty>

namespace qqsfpm {

class Filter;

// The `filters` list shared by the proxy model and by every type that holds
// filters of its own (AnyOf, AllOf, FilterSorter, SwitchRole, FilterRole).
//
// The container does not own its filters (the QML document does). A filter that
// is destroyed while listed is dropped from the list and reported through
// onFilterRemoved(); by then only its QObject part is left, so implementations
// must not call into it beyond QObject::disconnect.
class FilterContainer
{
public:
    explicit FilterContainer(QObject *self);
    virtual ~FilterContainer();

    const QList<Filter *> &filters() const;
    void appendFilter(Filter *filter);
    void removeFilter(Filter *filter);
    void clearFilters();

    QQmlListProperty<Filter> filtersListProperty();

protected:
    virtual void onFilterAppended(Filter *filter) = 0;
    virtual void onFilterRemoved(Filter *filter) = 0;

private:
    void dropFilter(Filter *filter);

    static void appendFilterItem(QQmlListProperty<Filter> *list, Filter *filter);
    static int filterItemCount(QQmlListProperty<Filter> *list);
    static Filter *filterItemAt(QQmlListProperty<Filter> *list, int index);
    static void clearFilterItems(QQmlListProperty<Filter> *list);
    static void replaceFilterItem(QQmlListProperty<Filter> *list, int index, Filter *filter);
    static void removeLastFilterItem(QQmlListProperty<Filter> *list);

    QObject *m_self;
    QList<Filter *> m_filters;
};

} // namespace qqsfpm

#define QQSFPM_FILTERCONTAINER_IID "org.quillon.sfpm.FilterContainer/0.2"
Q_DECLARE_INTERFACE(qqsfpm::FilterContainer, QQSFPM_FILTERCONTAINER_IID)
