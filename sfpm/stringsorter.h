#pragma once

#include "sfpm/rolesorter.h"

#include <QCollator>
#include <QLocale>

namespace qqsfpm {

// Orders rows by the text of `roleName`, collated for `locale`.
class StringSorter : public RoleSorter
{
    Q_OBJECT
    Q_PROPERTY(
        Qt::CaseSensitivity caseSensitivity READ caseSensitivity WRITE setCaseSensitivity NOTIFY caseSensitivityChanged)
    Q_PROPERTY(bool ignorePunctation READ ignorePunctation WRITE setIgnorePunctation NOTIFY ignorePunctationChanged)
    Q_PROPERTY(QLocale locale READ locale WRITE setLocale NOTIFY localeChanged)
    Q_PROPERTY(bool numericMode READ numericMode WRITE setNumericMode NOTIFY numericModeChanged)

public:
    explicit StringSorter(QObject *parent = nullptr);
    ~StringSorter() override;

    Qt::CaseSensitivity caseSensitivity() const;
    void setCaseSensitivity(Qt::CaseSensitivity caseSensitivity);
    bool ignorePunctation() const;
    void setIgnorePunctation(bool ignorePunctation);
    QLocale locale() const;
    void setLocale(const QLocale &locale);
    bool numericMode() const;
    void setNumericMode(bool numericMode);

signals:
    void caseSensitivityChanged();
    void ignorePunctationChanged();
    void localeChanged();
    void numericModeChanged();

protected:
    int compare(const QModelIndex &sourceLeft, const QModelIndex &sourceRight,
                const QQmlSortFilterProxyModel &proxyModel) const override;

private:
    QCollator m_collator;
};

} // namespace qqsfpm
