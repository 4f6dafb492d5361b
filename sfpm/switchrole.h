#pragma once

#include "sfpm/filtercontainer.h"
#include "sfpm/singlerole.h"

#include <QtQml/qqml.h>

namespace qqsfpm {

class SwitchRoleAttached;

// Yields the `SwitchRole.value` of the first of its filters that accepts the
// row; when none does, the value of `defaultRoleName` if set, else
// `defaultValue`.
class SwitchRole : public SingleRole, public FilterContainer
{
    Q_OBJECT
    Q_INTERFACES(qqsfpm::FilterContainer)
    Q_PROPERTY(QString defaultRoleName READ defaultRoleName WRITE setDefaultRoleName NOTIFY defaultRoleNameChanged)
    Q_PROPERTY(QVariant defaultValue READ defaultValue WRITE setDefaultValue NOTIFY defaultValueChanged)
    Q_PROPERTY(QQmlListProperty<qqsfpm::Filter> filters READ filtersListProperty)
    Q_CLASSINFO("DefaultProperty", "filters")

public:
    explicit SwitchRole(QObject *parent = nullptr);
    ~SwitchRole() override;

    QString defaultRoleName() const;
    void setDefaultRoleName(const QString &defaultRoleName);
    QVariant defaultValue() const;
    void setDefaultValue(const QVariant &defaultValue);

    void proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel) override;

    static SwitchRoleAttached *qmlAttachedProperties(QObject *object);

signals:
    void defaultRoleNameChanged();
    void defaultValueChanged();

protected:
    QVariant value(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) override;
    void onFilterAppended(Filter *filter) override;
    void onFilterRemoved(Filter *filter) override;

private:
    void watchAttached(Filter *filter);

    QString m_defaultRoleName;
    QVariant m_defaultValue;
};

} // namespace qqsfpm

QML_DECLARE_TYPEINFO(qqsfpm::SwitchRole, QML_HAS_ATTACHED_PROPERTIES)
