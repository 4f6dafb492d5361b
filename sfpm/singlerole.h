#pragma once

#include "sfpm/proxyrole.h"

namespace qqsfpm {

// A proxy role that provides exactly one role, called `name`.
class SingleRole : public ProxyRole
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)

public:
    explicit SingleRole(QObject *parent = nullptr);
    ~SingleRole() override;

    QString name() const;
    void setName(const QString &name);

    QStringList names() const override;

signals:
    void nameChanged();

protected:
    QVariant data(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel,
                  const QString &name) final;
    virtual QVariant value(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) = 0;

private:
    QString m_name;
};

} // namespace qqsfpm
