#pragma once

#include "sfpm/filter.h"

#include <QVariant>

namespace qqsfpm {

// Accepts the rows whose source row lies between `minimumIndex` and
// `maximumIndex`, both inclusive. A negative bound counts from the end
// (-1 is the last row); an unset bound does not limit.
class IndexFilter : public Filter
{
    Q_OBJECT
    Q_PROPERTY(QVariant minimumIndex READ minimumIndex WRITE setMinimumIndex NOTIFY minimumIndexChanged)
    Q_PROPERTY(QVariant maximumIndex READ maximumIndex WRITE setMaximumIndex NOTIFY maximumIndexChanged)

public:
    explicit IndexFilter(QObject *parent = nullptr);
    ~IndexFilter() override;

    QVariant minimumIndex() const;
    void setMinimumIndex(const QVariant &minimumIndex);
    QVariant maximumIndex() const;
    void setMaximumIndex(const QVariant &maximumIndex);

signals:
    void minimumIndexChanged();
    void maximumIndexChanged();

protected:
    bool filterRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const override;

private:
    QVariant m_minimumIndex;
    QVariant m_maximumIndex;
};

} // namespace qqsfpm
