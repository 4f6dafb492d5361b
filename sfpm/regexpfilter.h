#pragma once

#include "sfpm/rolefilter.h"

#include <QRegExp>

namespace qqsfpm {

// Accepts the rows whose `roleName` value, as text, contains a match of
// `pattern`. An empty or invalid pattern accepts every row (an invalid one is
// reported when set).
class RegExpFilter : public RoleFilter
{
    Q_OBJECT
    Q_PROPERTY(QString pattern READ pattern WRITE setPattern NOTIFY patternChanged)
    Q_PROPERTY(PatternSyntax syntax READ syntax WRITE setSyntax NOTIFY syntaxChanged)
    Q_PROPERTY(
        Qt::CaseSensitivity caseSensitivity READ caseSensitivity WRITE setCaseSensitivity NOTIFY caseSensitivityChanged)

public:
    enum PatternSyntax {
        RegExp = QRegExp::RegExp,
        Wildcard = QRegExp::Wildcard,
        FixedString = QRegExp::FixedString,
        RegExp2 = QRegExp::RegExp2,
        WildcardUnix = QRegExp::WildcardUnix,
        W3CXmlSchema11 = QRegExp::W3CXmlSchema11
    };
    Q_ENUM(PatternSyntax)

    explicit RegExpFilter(QObject *parent = nullptr);
    ~RegExpFilter() override;

    QString pattern() const;
    void setPattern(const QString &pattern);
    PatternSyntax syntax() const;
    void setSyntax(PatternSyntax syntax);
    Qt::CaseSensitivity caseSensitivity() const;
    void setCaseSensitivity(Qt::CaseSensitivity caseSensitivity);

signals:
    void patternChanged();
    void syntaxChanged();
    void caseSensitivityChanged();

protected:
    bool filterRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const override;

private:
    void rebuild();

    QString m_pattern;
    PatternSyntax m_syntax = RegExp;
    Qt::CaseSensitivity m_caseSensitivity = Qt::CaseSensitive;
    QRegExp m_regExp;
    bool m_usable = false;
};

} // namespace qqsfpm
