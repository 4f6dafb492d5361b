#pragma once

#include "sfpm/sorter.h"

namespace qqsfpm {

// Orders rows by the value of `roleName`: numbers as numbers, dates as dates,
// anything else as text.
class RoleSorter : public Sorter
{
    Q_OBJECT
    Q_PROPERTY(QString roleName READ roleName WRITE setRoleName NOTIFY roleNameChanged)

public:
    explicit RoleSorter(QObject *parent = nullptr);
    ~RoleSorter() override;

    QString roleName() const;
    void setRoleName(const QString &roleName);

signals:
    void roleNameChanged();

protected:
    int compare(const QModelIndex &sourceLeft, const QModelIndex &sourceRight,
                const QQmlSortFilterProxyModel &proxyModel) const override;
    QPair<QVariant, QVariant> sourceData(const QModelIndex &sourceLeft, const QModelIndex &sourceRight,
                                         const QQmlSortFilterProxyModel &proxyModel) const;

private:
    QString m_roleName;
};

} // namespace qqsfpm
