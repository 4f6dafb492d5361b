#pragma once

#include "sfpm/filter.h"

#include <QString>
#include <QVariant>

namespace qqsfpm {

// A filter that judges a row by the value of one role.
class RoleFilter : public Filter
{
    Q_OBJECT
    Q_PROPERTY(QString roleName READ roleName WRITE setRoleName NOTIFY roleNameChanged)

public:
    explicit RoleFilter(QObject *parent = nullptr);
    ~RoleFilter() override;

    QString roleName() const;
    void setRoleName(const QString &roleName);

signals:
    void roleNameChanged();

protected:
    QVariant sourceData(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const;

private:
    QString m_roleName;
};

} // namespace qqsfpm
