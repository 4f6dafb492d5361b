#include "app/i18n.h"

#include <QCoreApplication>
#include <QLocale>

I18n::I18n(QObject *parent) : QObject(parent), Singleton<I18n>(this) {}

I18n::~I18n()
{
    QCoreApplication::removeTranslator(&m_translator);
}

QString I18n::localeNotify() const
{
    return m_localeNotify;
}

QString I18n::locale() const
{
    return m_locale;
}

void I18n::setLocale(const QString &locale)
{
    if (m_locale == locale)
        return;
    m_locale = locale;
    reloadTranslation();
    emit localeChanged();
    emit localeNotifyChanged();
}

void I18n::reloadTranslation()
{
    // A locale without a catalogue (English is the source language) removes the
    // translator so the source texts show again.
    if (m_translator.load(QLocale(m_locale), QStringLiteral("Quillon"), QStringLiteral("_"), QStringLiteral(":/")))
        QCoreApplication::installTranslator(&m_translator);
    else
        QCoreApplication::removeTranslator(&m_translator);
}
