#pragma once

#include "sfpm/rolefilter.h"

namespace qqsfpm {

// Accepts the rows whose `roleName` value lies between `minimumValue` and
// `maximumValue`; each bound is inclusive unless told otherwise, and an unset
// bound does not limit. Numbers compare as numbers, dates as dates, anything
// else as text.
class RangeFilter : public RoleFilter
{
    Q_OBJECT
    Q_PROPERTY(QVariant minimumValue READ minimumValue WRITE setMinimumValue NOTIFY minimumValueChanged)
    Q_PROPERTY(bool minimumInclusive READ minimumInclusive WRITE setMinimumInclusive NOTIFY minimumInclusiveChanged)
    Q_PROPERTY(QVariant maximumValue READ maximumValue WRITE setMaximumValue NOTIFY maximumValueChanged)
    Q_PROPERTY(bool maximumInclusive READ maximumInclusive WRITE setMaximumInclusive NOTIFY maximumInclusiveChanged)

public:
    explicit RangeFilter(QObject *parent = nullptr);
    ~RangeFilter() override;

    QVariant minimumValue() const;
    void setMinimumValue(const QVariant &minimumValue);
    bool minimumInclusive() const;
    void setMinimumInclusive(bool minimumInclusive);
    QVariant maximumValue() const;
    void setMaximumValue(const QVariant &maximumValue);
    bool maximumInclusive() const;
    void setMaximumInclusive(bool maximumInclusive);

signals:
    void minimumValueChanged();
    void minimumInclusiveChanged();
    void maximumValueChanged();
    void maximumInclusiveChanged();

protected:
    bool filterRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const override;

private:
    QVariant m_minimumValue;
    bool m_minimumInclusive = true;
    QVariant m_maximumValue;
    bool m_maximumInclusive = true;
};

} // namespace qqsfpm
