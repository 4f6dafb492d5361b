#include "sfpm/expressionrole.h"

#include "sfpm/qqmlsortfilterproxymodel.h"
#include "sfpm/rowexpression.h"

namespace qqsfpm {

ExpressionRole::ExpressionRole(QObject *parent) : SingleRole(parent), m_expression(new RowExpression(this))
{
    connect(m_expression, &RowExpression::dependencyChanged, this, &ExpressionRole::invalidate);
}

ExpressionRole::~ExpressionRole() = default;

QQmlScriptString ExpressionRole::expression() const
{
    return m_expression->script();
}

void ExpressionRole::setExpression(const QQmlScriptString &expression)
{
    if (m_expression->script() == expression)
        return;
    m_expression->setScript(expression);
    emit expressionChanged();
    invalidate();
}

void ExpressionRole::proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel)
{
    Q_UNUSED(proxyModel)
    m_expression->prepare();
}

QVariant ExpressionRole::value(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel)
{
    bool ok = false;
    const QVariant result = m_expression->evaluate(proxyModel.rowContext(sourceIndex), &ok);
    return ok ? result : QVariant();
}

} // namespace qqsfpm
