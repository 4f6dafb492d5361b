#pragma once

#include <QObject>
#include <QVariant>

namespace qqsfpm {

// `SwitchRole.value` on a filter: what the SwitchRole yields for a row that
// the filter accepts.
class SwitchRoleAttached : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariant value READ value WRITE setValue NOTIFY valueChanged)

public:
    explicit SwitchRoleAttached(QObject *parent = nullptr);
    ~SwitchRoleAttached() override;

    QVariant value() const;
    void setValue(const QVariant &value);

signals:
    void valueChanged();

private:
    QVariant m_value;
};

} // namespace qqsfpm
