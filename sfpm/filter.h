#pragma once

#include <QModelIndex>
#include <QObject>

namespace qqsfpm {

class QQmlSortFilterProxyModel;

// Base of every row filter. A disabled filter accepts every row; an enabled one
// returns filterRow() exclusive-or `inverted`. Subclasses call invalidate() when
// something that affects their verdict changes.
class Filter : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY enabledChanged)
    Q_PROPERTY(bool inverted READ inverted WRITE setInverted NOTIFY invertedChanged)

public:
    explicit Filter(QObject *parent = nullptr);
    ~Filter() override;

    bool enabled() const;
    void setEnabled(bool enabled);
    bool inverted() const;
    void setInverted(bool inverted);

    bool filterAcceptsRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const;

    // Called once the proxy that uses this filter has finished loading.
    virtual void proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel);

signals:
    void enabledChanged();
    void invertedChanged();
    void invalidated();

protected:
    virtual bool filterRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const = 0;
    void invalidate();

private:
    bool m_enabled = true;
    bool m_inverted = false;
};

} // namespace qqsfpm
