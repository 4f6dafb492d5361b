#pragma once

#include <QQuickItem>

// Placeholder: filled in by the work on this subsystem.
class DewrapArea : public QQuickItem
{
    Q_OBJECT

public:
    explicit DewrapArea(QQuickItem *parent = nullptr);
    ~DewrapArea() override;
};
