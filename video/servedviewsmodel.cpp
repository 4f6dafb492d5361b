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

void ServedViewsModel::setEntries(const QVector<Entry> &entries)
{
    const int oldViews = m_entries.size();
    m_entries = entries;
    m_byKey.clear();
    m_byKey.reserve(m_entries.size());
    int served = 0;
    for (int i = 0; i < m_entries.size(); ++i) {
        m_byKey.insert(keyOf(m_entries.at(i).streamSerial, m_entries.at(i).viewName), i);
        served += m_entries.at(i).address.isEmpty() ? 0 : 1;
    }
    refilter();
    setServedCount(served);
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
    m_visibleRow.clear();
    for (int i = 0; i < m_entries.size(); ++i) {
        if (passes(m_entries.at(i))) {
            m_visibleRow.insert(i, m_visible.size());
            m_visible.append(i);
        }
    }
    endResetModel();
    if (oldCount != m_visible.size())
        emit countChanged();
}

void ServedViewsModel::applyStatus(const ServerStatus &status, const std::function<QString(const QString &)> &address)
{
    QVector<Entry> updated = m_entries;
    for (Entry &entry : updated) {
        entry.address.clear();
        entry.clients = 0;
        entry.lastError.clear();
    }
    for (const ServerStatus::View &view : status.views) {
        const auto it = m_byKey.constFind(keyOf(view.streamSerial, view.name));
        if (it == m_byKey.constEnd())
            continue;
        Entry &entry = updated[*it];
        entry.address = address ? address(view.address) : view.address;
        entry.clients = view.clients;
        entry.lastError = view.lastError;
    }
    int first = -1;
    int last = -1;
    int served = 0;
    for (int i = 0; i < updated.size(); ++i) {
        const Entry &now = updated.at(i);
        const Entry &before = m_entries.at(i);
        served += now.address.isEmpty() ? 0 : 1;
        if (now.address == before.address && now.clients == before.clients && now.lastError == before.lastError)
            continue;
        const auto row = m_visibleRow.constFind(i);
        if (row == m_visibleRow.constEnd())
            continue;
        first = first < 0 ? *row : qMin(first, *row);
        last = qMax(last, *row);
    }
    m_entries = updated;
    if (first >= 0)
        emit dataChanged(index(first), index(last), {AddressRole, ServedRole, ReasonRole, ClientsRole});
    setServedCount(served);
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
