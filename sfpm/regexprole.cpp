#include "sfpm/regexprole.h"

#include "sfpm/qqmlsortfilterproxymodel.h"

#include <QtQml>

namespace qqsfpm {

RegExpRole::RegExpRole(QObject *parent) : ProxyRole(parent) {}

RegExpRole::~RegExpRole() = default;

QString RegExpRole::roleName() const
{
    return m_roleName;
}

void RegExpRole::setRoleName(const QString &roleName)
{
    if (m_roleName == roleName)
        return;
    m_roleName = roleName;
    emit roleNameChanged();
    invalidate();
}

QString RegExpRole::pattern() const
{
    return m_regExp.pattern();
}

void RegExpRole::setPattern(const QString &pattern)
{
    if (m_regExp.pattern() == pattern)
        return;
    m_regExp.setPattern(pattern);
    rebuild();
    emit patternChanged();
    invalidate();
}

Qt::CaseSensitivity RegExpRole::caseSensitivity() const
{
    return m_caseSensitivity;
}

void RegExpRole::setCaseSensitivity(Qt::CaseSensitivity caseSensitivity)
{
    if (m_caseSensitivity == caseSensitivity)
        return;
    m_caseSensitivity = caseSensitivity;
    m_regExp.setPatternOptions(caseSensitivity == Qt::CaseInsensitive ? QRegularExpression::CaseInsensitiveOption
                                                                      : QRegularExpression::NoPatternOption);
    emit caseSensitivityChanged();
    invalidate();
}

QStringList RegExpRole::names() const
{
    return m_names;
}

void RegExpRole::rebuild()
{
    QStringList names;
    if (m_regExp.isValid()) {
        for (const QString &group : m_regExp.namedCaptureGroups()) {
            if (!group.isEmpty())
                names.append(group);
        }
    } else {
        qmlWarning(this) << "Invalid regular expression \"" << m_regExp.pattern() << "\": " << m_regExp.errorString();
    }
    if (names == m_names)
        return;
    emit namesAboutToBeChanged();
    m_names = names;
    emit namesChanged();
}

QVariant RegExpRole::data(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel,
                          const QString &name)
{
    if (!m_regExp.isValid())
        return {};
    const QRegularExpressionMatch match = m_regExp.match(proxyModel.sourceData(sourceIndex, m_roleName).toString());
    return match.hasMatch() ? match.captured(name) : QString();
}

} // namespace qqsfpm
