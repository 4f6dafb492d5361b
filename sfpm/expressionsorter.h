#pragma once

#include "sfpm/sorter.h"

#include <QQmlScriptString>

namespace qqsfpm {

class RowExpression;

// Orders rows by a script that tells whether `modelLeft` goes before
// `modelRight`; each of the two holds the row's roles and its source `index`.
class ExpressionSorter : public Sorter
{
    Q_OBJECT
    Q_PROPERTY(QQmlScriptString expression READ expression WRITE setExpression NOTIFY expressionChanged)

public:
    explicit ExpressionSorter(QObject *parent = nullptr);
    ~ExpressionSorter() override;

    QQmlScriptString expression() const;
    void setExpression(const QQmlScriptString &expression);

    void proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel) override;

signals:
    void expressionChanged();

protected:
    bool lessThan(const QModelIndex &sourceLeft, const QModelIndex &sourceRight,
                  const QQmlSortFilterProxyModel &proxyModel) const override;

private:
    RowExpression *m_expression;
};

} // namespace qqsfpm
