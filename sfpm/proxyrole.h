#pragma once

#include <QModelIndex>
#include <QObject>
#include <QStringList>
#include <QVariant>

namespace qqsfpm {

class QQmlSortFilterProxyModel;

// Base of the roles a proxy computes on top of its source's roles. A role
// object may provide several role names; the proxy numbers them after the
// source's roles. Before its names change it emits namesAboutToBeChanged(),
// after that namesChanged(); invalidated() says its values changed.
class ProxyRole : public QObject
{
    Q_OBJECT

public:
    explicit ProxyRole(QObject *parent = nullptr);
    ~ProxyRole() override;

    virtual QStringList names() const = 0;

    // The value of role `name` for a source row. A role whose computation reads
    // itself (directly or through other roles) yields an invalid value there.
    QVariant roleData(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel, const QString &name);

    virtual void proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel);

signals:
    void invalidated();
    void namesAboutToBeChanged();
    void namesChanged();

protected:
    virtual QVariant data(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel,
                          const QString &name) = 0;
    void invalidate();

private:
    bool m_computing = false;
};

} // namespace qqsfpm
