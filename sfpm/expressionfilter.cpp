#include "sfpm/expressionfilter.h"

#include "sfpm/qqmlsortfilterproxymodel.h"
#include "sfpm/rowexpression.h"

namespace qqsfpm {

ExpressionFilter::ExpressionFilter(QObject *parent) : Filter(parent), m_expression(new RowExpression(this))
{
    connect(m_expression, &RowExpression::dependencyChanged, this, &ExpressionFilter::invalidate);
}

ExpressionFilter::~ExpressionFilter() = default;

QQmlScriptString ExpressionFilter::expression() const
{
    return m_expression->script();
}

void ExpressionFilter::setExpression(const QQmlScriptString &expression)
{
    if (m_expression->script() == expression)
        return;
    m_expression->setScript(expression);
    emit expressionChanged();
    invalidate();
}

void ExpressionFilter::proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel)
{
    Q_UNUSED(proxyModel)
    m_expression->prepare();
}

bool ExpressionFilter::filterRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const
{
    return m_expression->evaluateBool(proxyModel.rowContext(sourceIndex), true);
}

} // namespace qqsfpm
