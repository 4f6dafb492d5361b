#pragma once

#include "sfpm/singlerole.h"

#include <QQmlScriptString>

namespace qqsfpm {

class RowExpression;

// The result of `expression`, evaluated per row with the row's roles by name,
// `index` (the source row) and `model` visible.
class ExpressionRole : public SingleRole
{
    Q_OBJECT
    Q_PROPERTY(QQmlScriptString expression READ expression WRITE setExpression NOTIFY expressionChanged)

public:
    explicit ExpressionRole(QObject *parent = nullptr);
    ~ExpressionRole() override;

    QQmlScriptString expression() const;
    void setExpression(const QQmlScriptString &expression);

    void proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel) override;

signals:
    void expressionChanged();

protected:
    QVariant value(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) override;

private:
    RowExpression *m_expression;
};

} // namespace qqsfpm
