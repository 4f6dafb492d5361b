#include "sfpm/stringsorter.h"

namespace qqsfpm {

StringSorter::StringSorter(QObject *parent) : RoleSorter(parent) {}

StringSorter::~StringSorter() = default;

Qt::CaseSensitivity StringSorter::caseSensitivity() const
{
    return m_collator.caseSensitivity();
}

void StringSorter::setCaseSensitivity(Qt::CaseSensitivity caseSensitivity)
{
    if (m_collator.caseSensitivity() == caseSensitivity)
        return;
    m_collator.setCaseSensitivity(caseSensitivity);
    emit caseSensitivityChanged();
    invalidate();
}

bool StringSorter::ignorePunctation() const
{
    return m_collator.ignorePunctuation();
}

void StringSorter::setIgnorePunctation(bool ignorePunctation)
{
    if (m_collator.ignorePunctuation() == ignorePunctation)
        return;
    m_collator.setIgnorePunctuation(ignorePunctation);
    emit ignorePunctationChanged();
    invalidate();
}

QLocale StringSorter::locale() const
{
    return m_collator.locale();
}

void StringSorter::setLocale(const QLocale &locale)
{
    if (m_collator.locale() == locale)
        return;
    m_collator.setLocale(locale);
    emit localeChanged();
    invalidate();
}

bool StringSorter::numericMode() const
{
    return m_collator.numericMode();
}

void StringSorter::setNumericMode(bool numericMode)
{
    if (m_collator.numericMode() == numericMode)
        return;
    m_collator.setNumericMode(numericMode);
    emit numericModeChanged();
    invalidate();
}

int StringSorter::compare(const QModelIndex &sourceLeft, const QModelIndex &sourceRight,
                          const QQmlSortFilterProxyModel &proxyModel) const
{
    const auto values = sourceData(sourceLeft, sourceRight, proxyModel);
    return m_collator.compare(values.first.toString(), values.second.toString());
}

} // namespace qqsfpm
