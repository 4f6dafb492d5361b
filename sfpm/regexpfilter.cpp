#include "sfpm/regexpfilter.h"

#include <QtQml>

namespace qqsfpm {

RegExpFilter::RegExpFilter(QObject *parent) : RoleFilter(parent) {}

RegExpFilter::~RegExpFilter() = default;

QString RegExpFilter::pattern() const
{
    return m_pattern;
}

void RegExpFilter::setPattern(const QString &pattern)
{
    if (m_pattern == pattern)
        return;
    m_pattern = pattern;
    rebuild();
    emit patternChanged();
    invalidate();
}

RegExpFilter::PatternSyntax RegExpFilter::syntax() const
{
    return m_syntax;
}

void RegExpFilter::setSyntax(PatternSyntax syntax)
{
    if (m_syntax == syntax)
        return;
    m_syntax = syntax;
    rebuild();
    emit syntaxChanged();
    invalidate();
}

Qt::CaseSensitivity RegExpFilter::caseSensitivity() const
{
    return m_caseSensitivity;
}

void RegExpFilter::setCaseSensitivity(Qt::CaseSensitivity caseSensitivity)
{
    if (m_caseSensitivity == caseSensitivity)
        return;
    m_caseSensitivity = caseSensitivity;
    rebuild();
    emit caseSensitivityChanged();
    invalidate();
}

void RegExpFilter::rebuild()
{
    m_regExp = QRegExp(m_pattern, m_caseSensitivity, static_cast<QRegExp::PatternSyntax>(m_syntax));
    m_usable = !m_pattern.isEmpty() && m_regExp.isValid();
    if (!m_pattern.isEmpty() && !m_regExp.isValid())
        qmlWarning(this) << "Invalid regular expression \"" << m_pattern << "\": " << m_regExp.errorString();
}

bool RegExpFilter::filterRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const
{
    if (!m_usable)
        return true;
    return m_regExp.indexIn(sourceData(sourceIndex, proxyModel).toString()) != -1;
}

} // namespace qqsfpm
