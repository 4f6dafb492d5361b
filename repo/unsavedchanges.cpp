#include "repo/unsavedchanges.h"

#include "repo/localdatabase.h"
#include "repo/repobjviews.h"
#include "repo/repologging.h"
#include "repo/repoobjects.h"

UnsavedChanges::UnsavedChanges(QObject *parent) : QObject(parent), Singleton<UnsavedChanges>(this) {}

UnsavedChanges::~UnsavedChanges() = default;

void UnsavedChanges::watch(RepoObjects *objects, RepoObjViews *views, LocalDatabase *database)
{
    if (objects)
        connect(objects, &RepoObjects::edited, this, &UnsavedChanges::note);
    if (views)
        connect(views, &RepoObjViews::edited, this, &UnsavedChanges::note);
    if (database) {
        // Both come on the GUI thread: the rows are taken there, and the outcome is queued back to it.
        connect(database, &LocalDatabase::saveStarted, this, [this] { m_savingGeneration = m_generation; });
        connect(database, &LocalDatabase::saveFinished, this, [this](bool ok) {
            if (ok)
                savedUpTo(m_savingGeneration);
        });
    }
}

QStringList UnsavedChanges::changes() const
{
    QStringList lines;
    for (const Change &change : m_listed)
        lines.append(change.what);
    return lines;
}

QString UnsavedChanges::summary() const
{
    const int total = count();
    if (total == 0)
        return QString();
    QString line = QStringLiteral("%1 unsaved change%2: %3")
                       .arg(total)
                       .arg(QLatin1String(total == 1 ? "" : "s"))
                       .arg(changes().join(QLatin1String("; ")));
    if (total > m_listed.size())
        line += QStringLiteral("; and %1 more").arg(total - m_listed.size());
    return line;
}

void UnsavedChanges::note(const QString &what)
{
    const int before = count();
    ++m_generation;
    qCDebug(lcRepo) << "Unsaved change:" << what;
    if (m_listed.size() < kMaxListed)
        m_listed.append({m_generation, what});
    announce(before);
}

void UnsavedChanges::clear()
{
    savedUpTo(m_generation);
}

void UnsavedChanges::savedUpTo(quint64 generation)
{
    const int before = count();
    m_savedGeneration = qBound(m_savedGeneration, generation, m_generation);
    while (!m_listed.isEmpty() && m_listed.constFirst().generation <= m_savedGeneration)
        m_listed.removeFirst();
    if (isDirty())
        qCDebug(lcRepo) << count() << "changes made during the save stay unsaved";
    announce(before);
}

void UnsavedChanges::announce(int countBefore)
{
    if (countBefore == count())
        return;
    emit countChanged();
    if ((countBefore > 0) != isDirty())
        emit dirtyChanged();
}
