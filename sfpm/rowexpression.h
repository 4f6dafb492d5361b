#pragma once

#include <QObject>
#include <QQmlScriptString>
#include <QVariantMap>

class QQmlContext;
class QQmlExpression;

namespace qqsfpm {

// A QML script evaluated once per row (or per pair of rows) in a child context of
// its owner's QML context, with the row's values set as context properties.
//
// Changes to anything else the script reads (a slider value, say) are reported
// through dependencyChanged(); the per-row property updates this class makes
// itself are not. Errors and non-boolean results are logged once per distinct
// message, so a broken script does not flood the log row after row.
class RowExpression : public QObject
{
    Q_OBJECT

public:
    explicit RowExpression(QObject *owner);
    ~RowExpression() override;

    QQmlScriptString script() const;
    void setScript(const QQmlScriptString &script);

    // Creates the context and expression when the owner lives in a QML context.
    bool prepare();

    // Evaluates the script; *ok is false when the script failed or could not run.
    QVariant evaluate(const QVariantMap &properties, bool *ok);
    // Evaluates and converts to bool; a result that is no boolean is reported
    // and yields `fallback`.
    bool evaluateBool(const QVariantMap &properties, bool fallback);

signals:
    void dependencyChanged();

private:
    void onValueChanged();
    void warnOnce(const QString &message);

    QObject *m_owner;
    QQmlScriptString m_script;
    QQmlContext *m_context = nullptr;
    QQmlExpression *m_expression = nullptr;
    bool m_evaluating = false;
    QString m_lastWarning;
};

} // namespace qqsfpm
