#pragma once

#include "app/singleton.h"

#include <QObject>
#include <QString>
#include <QTranslator>

// Run-time language switching.
//
// Every visible QML text is bound as qsTr(literal) + I18n.localeNotify. The
// appended string is always empty; its change signal, emitted after each
// translation change, makes the engine re-evaluate those bindings.
class I18n : public QObject, public Singleton<I18n>
{
    Q_OBJECT
    Q_PROPERTY(QString localeNotify READ localeNotify NOTIFY localeNotifyChanged)
    Q_PROPERTY(QString locale READ locale WRITE setLocale NOTIFY localeChanged)

public:
    explicit I18n(QObject *parent = nullptr);
    ~I18n() override;

    QString localeNotify() const;
    QString locale() const;
    void setLocale(const QString &locale);

signals:
    void localeNotifyChanged();
    void localeChanged();

private:
    void reloadTranslation();

    const QString m_localeNotify;
    QString m_locale = QStringLiteral("en_US");
    QTranslator m_translator;
};
