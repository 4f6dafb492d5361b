#include "sfpm/filter.h"

#include "sfpm/alloffilter.h"
#include "sfpm/anyoffilter.h"
#include "sfpm/expressionfilter.h"
#include "sfpm/indexfilter.h"
#include "sfpm/rangefilter.h"
#include "sfpm/regexpfilter.h"
#include "sfpm/rolefilter.h"
#include "sfpm/valuefilter.h"

#include <QCoreApplication>
#include <QtQml>

namespace qqsfpm {

Filter::Filter(QObject *parent) : QObject(parent) {}

Filter::~Filter() = default;

bool Filter::enabled() const
{
    return m_enabled;
}

void Filter::setEnabled(bool enabled)
{
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    emit enabledChanged();
    // Switching a filter on or off changes the verdict either way.
    emit invalidated();
}

bool Filter::inverted() const
{
    return m_inverted;
}

void Filter::setInverted(bool inverted)
{
    if (m_inverted == inverted)
        return;
    m_inverted = inverted;
    emit invertedChanged();
    invalidate();
}

bool Filter::filterAcceptsRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const
{
    return !m_enabled || (filterRow(sourceIndex, proxyModel) ^ m_inverted);
}

void Filter::proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel)
{
    Q_UNUSED(proxyModel)
}

void Filter::invalidate()
{
    if (m_enabled)
        emit invalidated();
}

namespace {

void registerFilterTypes()
{
    const char *uri = "SortFilterProxyModel";
    qmlRegisterUncreatableType<Filter>(uri, 0, 2, "Filter", QStringLiteral("Filter is an abstract class"));
    qmlRegisterAnonymousType<RoleFilter>(uri, 0);
    qmlRegisterType<ValueFilter>(uri, 0, 2, "ValueFilter");
    qmlRegisterType<IndexFilter>(uri, 0, 2, "IndexFilter");
    qmlRegisterType<RegExpFilter>(uri, 0, 2, "RegExpFilter");
    qmlRegisterType<RangeFilter>(uri, 0, 2, "RangeFilter");
    qmlRegisterType<ExpressionFilter>(uri, 0, 2, "ExpressionFilter");
    qmlRegisterType<AnyOfFilter>(uri, 0, 2, "AnyOf");
    qmlRegisterType<AllOfFilter>(uri, 0, 2, "AllOf");
}

// Runs when the library is loaded; the routine itself runs when the
// application object is constructed, before any QML is read.
[[maybe_unused]] const bool s_filterTypesQueued = (qAddPreRoutine(registerFilterTypes), true);

} // namespace

} // namespace qqsfpm
