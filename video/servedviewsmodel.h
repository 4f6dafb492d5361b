#pragma once

#include "platform/ostrevan/serverstatus.h"

#include <QAbstractListModel>
#include <QHash>
#include <QString>
#include <QVector>

#include <functional>

// Every stored view, for the server panel: the address of each view the server serves and, for
// each one it does not, why. Rows are filtered here (filterText, on the view's and its stream's
// names), so a list of many thousands of views is filtered without a proxy and a status that
// changes a few rows touches only those.
class ServedViewsModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(QString filterText READ filterText WRITE setFilterText NOTIFY filterTextChanged)
    // Rows that pass the filter.
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    // All stored views, and of them those the server serves now.
    Q_PROPERTY(int viewCount READ viewCount NOTIFY viewCountChanged)
    Q_PROPERTY(int servedCount READ servedCount NOTIFY servedCountChanged)
    // Shown for a view nothing keeps from being served while the server does not list it.
    Q_PROPERTY(QString pendingReason READ pendingReason WRITE setPendingReason NOTIFY pendingReasonChanged)

public:
    enum Role { StreamSerialRole = Qt::UserRole + 1, ViewNameRole, AddressRole, ServedRole, ReasonRole, ClientsRole };
    Q_ENUM(Role)

    struct Entry
    {
        QString streamSerial;
        QString viewName;
        // Why the view cannot be served as stored; empty when nothing keeps it from it.
        QString reason;
        QString address;
        int clients = 0;
        QString lastError;
    };

    explicit ServedViewsModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    QString filterText() const { return m_filterText; }
    void setFilterText(const QString &text);
    int count() const { return m_visible.size(); }
    int viewCount() const { return m_entries.size(); }
    int servedCount() const { return m_servedCount; }
    QString pendingReason() const { return m_pendingReason; }
    void setPendingReason(const QString &reason);

    // Entries with their index by stream and view, made anywhere (a pool thread for a large site)
    // and handed to setListing() on the model's thread.
    struct Listing
    {
        QVector<Entry> entries;
        QHash<QString, int> byKey; // stream serial + '/' + view name -> row
    };
    static Listing listing(const QVector<Entry> &entries);

    void setEntries(const QVector<Entry> &entries) { setListing(listing(entries)); }
    void setListing(const Listing &listing);
    const QVector<Entry> &entries() const { return m_entries; }
    // Marks the views the status lists as served, with their addresses (made reachable by
    // `address`), and every other as not served.
    void applyStatus(const ServerStatus &status, const std::function<QString(const QString &)> &address);
    // No view is served.
    void clearServed();

signals:
    void filterTextChanged();
    void countChanged();
    void viewCountChanged();
    void servedCountChanged();
    void pendingReasonChanged();

private:
    bool passes(const Entry &entry) const;
    void refilter();
    void setServedCount(int count);

    QVector<Entry> m_entries;
    QVector<int> m_visible;       // rows of m_entries that pass the filter
    QHash<QString, int> m_byKey;  // stream serial + '/' + view name -> row of m_entries
    QVector<int> m_visibleRow;    // row of m_entries -> row of the model; -1 where filtered out
    QVector<int> m_servedRows;    // rows of m_entries that the last status named
    QString m_filterText;
    QString m_pendingReason;
    int m_servedCount = 0;
};
