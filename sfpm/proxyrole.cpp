#include "sfpm/proxyrole.h"

#include "sfpm/expressionrole.h"
#include "sfpm/filterrole.h"
#include "sfpm/joinrole.h"
#include "sfpm/regexprole.h"
#include "sfpm/singlerole.h"
#include "sfpm/switchrole.h"
#include "sfpm/switchroleattached.h"

#include <QCoreApplication>
#include <QtQml>

namespace qqsfpm {

ProxyRole::ProxyRole(QObject *parent) : QObject(parent) {}

ProxyRole::~ProxyRole() = default;

QVariant ProxyRole::roleData(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel,
                             const QString &name)
{
    if (m_computing)
        return {};
    m_computing = true;
    const QVariant result = data(sourceIndex, proxyModel, name);
    m_computing = false;
    return result;
}

void ProxyRole::proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel)
{
    Q_UNUSED(proxyModel)
}

void ProxyRole::invalidate()
{
    emit invalidated();
}

namespace {

void registerProxyRoleTypes()
{
    const char *uri = "SortFilterProxyModel";
    qmlRegisterUncreatableType<ProxyRole>(uri, 0, 2, "ProxyRole", QStringLiteral("ProxyRole is an abstract class"));
    qmlRegisterAnonymousType<SingleRole>(uri, 0);
    qmlRegisterAnonymousType<SwitchRoleAttached>(uri, 0);
    qmlRegisterType<JoinRole>(uri, 0, 2, "JoinRole");
    qmlRegisterType<SwitchRole>(uri, 0, 2, "SwitchRole");
    qmlRegisterType<ExpressionRole>(uri, 0, 2, "ExpressionRole");
    qmlRegisterType<RegExpRole>(uri, 0, 2, "RegExpRole");
    qmlRegisterType<FilterRole>(uri, 0, 2, "FilterRole");
}

[[maybe_unused]] const bool s_proxyRoleTypesQueued = (qAddPreRoutine(registerProxyRoleTypes), true);

} // namespace

} // namespace qqsfpm
