#include "video/servedviewsmodel.h"

namespace {
QString keyOf(const QString &stream, const QString &view)
{
    return stream + QLatin1Char('/') + view;
}
} // namespace

ServedViewsModel::ServedViewsModel(QObject *parent) : QAbstractListModel(parent) {}

int ServedViewsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_visible.size();
}

QVariant ServedViewsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_visible.size())
        return {};
    const Entry &entry = m_entries.at(m_visible.at(index.row()));
    switch (role) {
    case Qt::DisplayRole:
    case AddressRole:
        return entry.address;
    case StreamSerialRole:
        return entry.streamSerial;
    case ViewNameRole:
        return entry.viewName;
    case ServedRole:
        return !entry.address.isEmpty();
    case ReasonRole:
        if (!entry.reason.isEmpty() || !entry.address.isEmpty())
            return entry.reason;
        return entry.lastError.isEmpty() ? m_pendingReason : entry.lastError;
    case ClientsRole:
        return entry.clients;
    }
    return {};
}

QHash<int, QByteArray> ServedViewsModel::roleNames() const
{
    return {{StreamSerialRole, "streamSerial"},
            {ViewNameRole, "viewName"},
            {AddressRole, "address"},
            {ServedRole, "served"},
            {ReasonRole, "reason"},
            {ClientsRole, "clients"}};
}

void ServedViewsModel::setFilterText(const QString &text)
{
    if (m_filterText == text)
        return;
    m_filterText = text;
    emit filterTextChanged();
    refilter();
}

void ServedViewsModel::setPendingReason(const QString &reason)
{
    if (m_pendingReason == reason)
        return;
    m_pendingReason = reason;
    emit pendingReasonChanged();
    if (!m_visible.isEmpty())
        emit dataChanged(index(0), index(m_visible.size() - 1), {ReasonRole});
}

ServedViewsModel::Listing ServedViewsModel::listing(const QVector<Entry> &entries)
{
    Listing result;
    result.entries = entries;
    result.byKey.reserve(entries.size());
    for (int i = 0; i < entries.size(); ++i)
        result.byKey.insert(keyOf(entries.at(i).streamSerial, entries.at(i).viewName), i);
    return result;
}

void ServedViewsModel::setListing(const Listing &listing)
{
    const int oldViews = m_entries.size();
    m_entries = listing.entries;
    m_byKey = listing.byKey;
    m_servedRows.clear();
    for (int i = 0; i < m_entries.size(); ++i) {
        if (!m_entries.at(i).address.isEmpty() || !m_entries.at(i).lastError.isEmpty())
            m_servedRows.append(i);
    }
    refilter();
    setServedCount(m_servedRows.size());
    if (oldViews != m_entries.size())
        emit viewCountChanged();
}

bool ServedViewsModel::passes(const Entry &entry) const
{
    return m_filterText.isEmpty() || entry.viewName.contains(m_filterText, Qt::CaseInsensitive) ||
           entry.streamSerial.contains(m_filterText, Qt::CaseInsensitive);
}

void ServedViewsModel::refilter()
{
    const int oldCount = m_visible.size();
    beginResetModel();
    m_visible.clear();
    m_visible.reserve(m_filterText.isEmpty() ? m_entries.size() : 0);
    m_visibleRow.fill(-1, m_entries.size());
    for (int i = 0; i < m_entries.size(); ++i) {
        if (passes(m_entries.at(i))) {
            m_visibleRow[i] = m_visible.size();
            m_visible.append(i);
        }
    }
    endResetModel();
    if (oldCount != m_visible.size())
        emit countChanged();
}

void ServedViewsModel::applyStatus(const ServerStatus &status, const std::function<QString(const QString &)> &address)
{
    // Only the rows the last status and this one name can change: a large site is not walked.
    int first = -1;
    int last = -1;
    auto changed = [&](int row) {
        const int shown = m_visibleRow.value(row, -1);
        if (shown < 0)
            return;
        first = first < 0 ? shown : qMin(first, shown);
        last = qMax(last, shown);
    };
    QVector<int> served;
    served.reserve(status.views.size());
    QVector<bool> named(m_servedRows.isEmpty() ? 0 : m_entries.size(), false);
    for (const ServerStatus::View &view : status.views) {
        const auto it = m_byKey.constFind(keyOf(view.streamSerial, view.name));
        if (it == m_byKey.constEnd())
            continue;
        Entry &entry = m_entries[*it];
        const QString shown = address ? address(view.address) : view.address;
        if (entry.address != shown || entry.clients != view.clients || entry.lastError != view.lastError) {
            entry.address = shown;
            entry.clients = view.clients;
            entry.lastError = view.lastError;
            changed(*it);
        }
        served.append(*it);
        if (!named.isEmpty())
            named[*it] = true;
    }
    for (const int row : qAsConst(m_servedRows)) {
        if (named.value(row))
            continue;
        Entry &entry = m_entries[row];
        entry.address.clear();
        entry.clients = 0;
        entry.lastError.clear();
        changed(row);
    }
    m_servedRows = served;
    if (first >= 0)
        emit dataChanged(index(first), index(last), {AddressRole, ServedRole, ReasonRole, ClientsRole});
    int count = 0;
    for (const int row : qAsConst(m_servedRows))
        count += m_entries.at(row).address.isEmpty() ? 0 : 1;
    setServedCount(count);
}

void ServedViewsModel::clearServed()
{
    applyStatus(ServerStatus(), {});
}

void ServedViewsModel::setServedCount(int count)
{
    if (m_servedCount == count)
        return;
    m_servedCount = count;
    emit servedCountChanged();
}
