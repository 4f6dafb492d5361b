#include "sfpm/rowexpression.h"

#include "sfpm/sfpmlogging.h"

#include <QQmlContext>
#include <QQmlExpression>
#include <QtQml>

namespace qqsfpm {

RowExpression::RowExpression(QObject *owner) : QObject(owner), m_owner(owner) {}

RowExpression::~RowExpression() = default;

QQmlScriptString RowExpression::script() const
{
    return m_script;
}

void RowExpression::setScript(const QQmlScriptString &script)
{
    m_script = script;
    delete m_expression;
    m_expression = nullptr;
    m_lastWarning.clear();
    prepare();
}

bool RowExpression::prepare()
{
    if (m_expression)
        return true;
    if (m_script.isEmpty())
        return false;
    QQmlContext *ownerContext = qmlContext(m_owner);
    if (!ownerContext)
        return false;
    if (!m_context)
        m_context = new QQmlContext(ownerContext, this);
    m_expression = new QQmlExpression(m_script, m_context, m_owner, this);
    m_expression->setNotifyOnValueChanged(true);
    connect(m_expression, &QQmlExpression::valueChanged, this, &RowExpression::onValueChanged);
    return true;
}

QVariant RowExpression::evaluate(const QVariantMap &properties, bool *ok)
{
    *ok = false;
    // A script that reads a proxy role computed by this very script would recurse.
    if (m_evaluating || !prepare())
        return {};
    m_evaluating = true;
    for (auto it = properties.cbegin(); it != properties.cend(); ++it)
        m_context->setContextProperty(it.key(), it.value());
    const QVariant result = m_expression->evaluate();
    m_evaluating = false;
    if (m_expression->hasError()) {
        warnOnce(m_expression->error().toString());
        m_expression->clearError();
        return {};
    }
    *ok = true;
    return result;
}

bool RowExpression::evaluateBool(const QVariantMap &properties, bool fallback)
{
    bool ok = false;
    const QVariant result = evaluate(properties, &ok);
    if (!ok)
        return fallback;
    if (result.userType() != QMetaType::Bool && !result.canConvert<bool>()) {
        const QString message = QString::asprintf("%s:%i:%i : Can't convert result to bool",
                                                  m_expression->sourceFile().toUtf8().constData(),
                                                  m_expression->lineNumber(), m_expression->columnNumber());
        warnOnce(message);
        return fallback;
    }
    return result.toBool();
}

void RowExpression::onValueChanged()
{
    if (!m_evaluating)
        emit dependencyChanged();
}

void RowExpression::warnOnce(const QString &message)
{
    if (message == m_lastWarning)
        return;
    m_lastWarning = message;
    qCWarning(lcSfpm, "%s", message.toUtf8().constData());
}

} // namespace qqsfpm
