#pragma once

#include <QModelIndex>
#include <QObject>

namespace qqsfpm {

class QQmlSortFilterProxyModel;

// Base of every sorter. compareRows() returns a negative number when the left
// row goes first, a positive one when the right row does, 0 when this sorter
// cannot tell them apart; `sortOrder` (or `ascendingOrder`) flips the sign.
class Sorter : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY enabledChanged)
    Q_PROPERTY(bool ascendingOrder READ ascendingOrder WRITE setAscendingOrder NOTIFY sortOrderChanged)
    Q_PROPERTY(Qt::SortOrder sortOrder READ sortOrder WRITE setSortOrder NOTIFY sortOrderChanged)

public:
    explicit Sorter(QObject *parent = nullptr);
    ~Sorter() override;

    bool enabled() const;
    void setEnabled(bool enabled);
    bool ascendingOrder() const;
    void setAscendingOrder(bool ascendingOrder);
    Qt::SortOrder sortOrder() const;
    void setSortOrder(Qt::SortOrder sortOrder);

    int compareRows(const QModelIndex &sourceLeft, const QModelIndex &sourceRight,
                    const QQmlSortFilterProxyModel &proxyModel) const;

    virtual void proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel);

signals:
    void enabledChanged();
    void sortOrderChanged();
    void invalidated();

protected:
    // Ascending comparison; the default asks lessThan() both ways.
    virtual int compare(const QModelIndex &sourceLeft, const QModelIndex &sourceRight,
                        const QQmlSortFilterProxyModel &proxyModel) const;
    virtual bool lessThan(const QModelIndex &sourceLeft, const QModelIndex &sourceRight,
                          const QQmlSortFilterProxyModel &proxyModel) const;
    void invalidate();

private:
    bool m_enabled = true;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

} // namespace qqsfpm
