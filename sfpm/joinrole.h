#pragma once

#include "sfpm/singlerole.h"

namespace qqsfpm {

// The texts of `roleNames`, joined with `separator` (a space by default).
class JoinRole : public SingleRole
{
    Q_OBJECT
    Q_PROPERTY(QStringList roleNames READ roleNames WRITE setRoleNames NOTIFY roleNamesChanged)
    Q_PROPERTY(QString separator READ separator WRITE setSeparator NOTIFY separatorChanged)

public:
    explicit JoinRole(QObject *parent = nullptr);
    ~JoinRole() override;

    QStringList roleNames() const;
    void setRoleNames(const QStringList &roleNames);
    QString separator() const;
    void setSeparator(const QString &separator);

signals:
    void roleNamesChanged();
    void separatorChanged();

protected:
    QVariant value(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) override;

private:
    QStringList m_roleNames;
    QString m_separator = QStringLiteral(" ");
};

} // namespace qqsfpm
