#pragma once

#include "es/korvues.h"
#include "repo/repoobjects.h"

#include <QHash>
#include <QString>
#include <QtGlobal>

#include <memory>

class LocalDatabase;
class Object;
class QCollator;
class RepoObjViews;

// Turns one fetched object set (keyed by object id; the top-level objects have
// `rootId` as parent) into the program's gateways and streams. Runs on the GUI
// thread, queued there by EventServer::fetchObjects(), on the application's models
// (objectimport::apply); its last step emits EventServer::fetchedObject().
void importObjects(const QHash<qint64, korvu::es::Object> &objects, qint64 rootId);

// The steps of the import, for the import itself, its tests and benchmarks.
namespace objectimport {

using FetchedObjects = QHash<qint64, korvu::es::Object>;
using ObjectList = RepoObjects::ObjectList;

// The gateways and streams under rootId, in visiting order (depth first, children
// in the set's iteration order). One pass over the set builds a parent -> children
// index first, so the walk costs one pass however many parents there are.
ObjectList walkObjects(const FetchedObjects &objects, qint64 rootId);

// The collator that orders names: default locale, runs of digits by value.
QCollator nameCollator();

// Gateways before everything else, then by name under the collator.
bool objectOrder(const std::shared_ptr<Object> &a, const std::shared_ptr<Object> &b, const QCollator &collator);

// Sorts by objectOrder; equal names keep their visiting order.
void sortObjects(ObjectList &objects);

// The whole import into the given models: the objects, sorted and given their
// stored settings, replace the model's rows, and the stored views of the streams
// that are present come back.
void apply(const FetchedObjects &objects, qint64 rootId, RepoObjects &model, RepoObjViews &views,
           const LocalDatabase *database);

// The producer source string of a stream's event-server url ("" for a url that
// stream discovery resolves).
QString sourceUrlFor(const QString &url);

} // namespace objectimport
