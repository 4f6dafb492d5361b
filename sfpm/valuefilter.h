#pragma once

#include "sfpm/rolefilter.h"

namespace qqsfpm {

// Accepts the rows whose `roleName` value equals `value`; while `value` has
// never been set it accepts every row.
class ValueFilter : public RoleFilter
{
    Q_OBJECT
    Q_PROPERTY(QVariant value READ value WRITE setValue NOTIFY valueChanged)

public:
    explicit ValueFilter(QObject *parent = nullptr);
    ~ValueFilter() override;

    QVariant value() const;
    void setValue(const QVariant &value);

signals:
    void valueChanged();

protected:
    bool filterRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const override;

private:
    QVariant m_value;
};

} // namespace qqsfpm
