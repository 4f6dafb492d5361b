#pragma once

#include "sfpm/filter.h"

#include <QQmlScriptString>

namespace qqsfpm {

class RowExpression;

// Accepts the rows for which `expression` evaluates to true. The script sees the
// row's roles by name, `index` (the source row) and `model` (all roles as one
// object). A script that fails or returns no boolean accepts the row.
class ExpressionFilter : public Filter
{
    Q_OBJECT
    Q_PROPERTY(QQmlScriptString expression READ expression WRITE setExpression NOTIFY expressionChanged)

public:
    explicit ExpressionFilter(QObject *parent = nullptr);
    ~ExpressionFilter() override;

    QQmlScriptString expression() const;
    void setExpression(const QQmlScriptString &expression);

    void proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel) override;

signals:
    void expressionChanged();

protected:
    bool filterRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const override;

private:
    RowExpression *m_expression;
};

} // namespace qqsfpm
