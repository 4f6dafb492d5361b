#pragma once

#include "sfpm/proxyrole.h"

#include <QRegularExpression>

namespace qqsfpm {

// Matches `pattern` against the text of `roleName` and provides one role per
// named capture group, holding what that group captured (empty text when the
// row does not match).
class RegExpRole : public ProxyRole
{
    Q_OBJECT
    Q_PROPERTY(QString roleName READ roleName WRITE setRoleName NOTIFY roleNameChanged)
    Q_PROPERTY(QString pattern READ pattern WRITE setPattern NOTIFY patternChanged)
    Q_PROPERTY(
        Qt::CaseSensitivity caseSensitivity READ caseSensitivity WRITE setCaseSensitivity NOTIFY caseSensitivityChanged)

public:
    explicit RegExpRole(QObject *parent = nullptr);
    ~RegExpRole() override;

    QString roleName() const;
    void setRoleName(const QString &roleName);
    QString pattern() const;
    void setPattern(const QString &pattern);
    Qt::CaseSensitivity caseSensitivity() const;
    void setCaseSensitivity(Qt::CaseSensitivity caseSensitivity);

    QStringList names() const override;

signals:
    void roleNameChanged();
    void patternChanged();
    void caseSensitivityChanged();

protected:
    QVariant data(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel,
                  const QString &name) override;

private:
    void rebuild();

    QString m_roleName;
    Qt::CaseSensitivity m_caseSensitivity = Qt::CaseSensitive;
    QRegularExpression m_regExp;
    QStringList m_names;
};

} // namespace qqsfpm
