#include "sfpm/expressionsorter.h"

#include "sfpm/qqmlsortfilterproxymodel.h"
#include "sfpm/rowexpression.h"

namespace qqsfpm {

ExpressionSorter::ExpressionSorter(QObject *parent) : Sorter(parent), m_expression(new RowExpression(this))
{
    connect(m_expression, &RowExpression::dependencyChanged, this, &ExpressionSorter::invalidate);
}

ExpressionSorter::~ExpressionSorter() = default;

QQmlScriptString ExpressionSorter::expression() const
{
    return m_expression->script();
}

void ExpressionSorter::setExpression(const QQmlScriptString &expression)
{
    if (m_expression->script() == expression)
        return;
    m_expression->setScript(expression);
    emit expressionChanged();
    invalidate();
}

void ExpressionSorter::proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel)
{
    Q_UNUSED(proxyModel)
    m_expression->prepare();
}

bool ExpressionSorter::lessThan(const QModelIndex &sourceLeft, const QModelIndex &sourceRight,
                                const QQmlSortFilterProxyModel &proxyModel) const
{
    QVariantMap properties;
    properties.insert(QStringLiteral("modelLeft"), proxyModel.rowData(sourceLeft));
    properties.insert(QStringLiteral("modelRight"), proxyModel.rowData(sourceRight));
    return m_expression->evaluateBool(properties, false);
}

} // namespace qqsfpm
