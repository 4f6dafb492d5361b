#include "es/objectimport.h"

#include "es/eslogging.h"
#include "es/eventserver.h"
#include "repo/localdatabase.h"
#include "repo/object.h"
#include "repo/objview.h"
#include "repo/repobjviews.h"
#include "repo/repoobjects.h"
#include "repo/sourceaddress.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>
#include <QQmlEngine>
#include <QSet>
#include <QVector>

#include <algorithm>
#include <vector>

namespace objectimport {

namespace {

using Children = QVector<const korvu::es::Object *>;

// The children of each parent, in the set's iteration order.
class ChildSource
{
public:
    explicit ChildSource(const FetchedObjects &objects)
    {
        m_index.reserve(objects.size());
        for (auto it = objects.cbegin(); it != objects.cend(); ++it)
            m_index[it->parent()].append(&it.value());
    }

    Children childrenOf(qint64 parent) const { return m_index.value(parent); }

private:
    QHash<qint64, Children> m_index;
};

// One level of the walk: the children being visited and what they inherit.
struct Frame
{
    Children children;
    int next = 0;
    QString parentId; // what children get as idParent, made once per level; "" for none
    QString host;
    int port = 0;
};

// The settings the import reads, as the set holds them. Names compare without
// regard to case, and when several names lower-case alike the later one wins.
struct Settings
{
    std::string host;
    std::string port;
    std::string url;
    std::string fisheye;
    std::string title; // the last non-empty one names the object
};

// Which of the read settings a key names; keys compare without regard to case.
enum class Key { Other, Host, Port, Url, Fisheye, Title };

bool isAscii(const std::string &text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
}

Key keyOf(const std::string &name)
{
    static const struct
    {
        QLatin1String name;
        Key key;
    } keys[] = {{QLatin1String("host"), Key::Host},
                {QLatin1String("port"), Key::Port},
                {QLatin1String("url"), Key::Url},
                {QLatin1String("fisheye"), Key::Fisheye},
                {QLatin1String("title"), Key::Title}};
    // ASCII names (all in practice) compare in place; case folding outside ASCII
    // may still land on one of the names, so those go through QString.
    const bool ascii = isAscii(name);
    const QString lower = ascii ? QString() : QString::fromStdString(name).toLower();
    for (const auto &key : keys) {
        const bool same = ascii ? name.size() == size_t(key.name.size()) && qstricmp(name.c_str(), key.name.data()) == 0
                                : lower == key.name;
        if (same)
            return key.key;
    }
    return Key::Other;
}

// Only the values of the keys in use are turned into text, and none into a QString
// yet: most objects need only some of them as one.
void readSettings(const korvu::es::Object &source, Settings &settings)
{
    settings = Settings();
    for (const auto &entry : source.settings().entries()) {
        std::string *target = nullptr;
        switch (keyOf(entry.first)) {
        case Key::Host:
            target = &settings.host;
            break;
        case Key::Port:
            target = &settings.port;
            break;
        case Key::Url:
            target = &settings.url;
            break;
        case Key::Fisheye:
            target = &settings.fisheye;
            break;
        case Key::Title:
            break;
        case Key::Other:
            continue;
        }
        std::string value = entry.second.toString();
        if (target)
            *target = std::move(value);
        else if (!value.empty())
            settings.title = std::move(value);
    }
}

std::shared_ptr<Object> newObject(const korvu::es::Object &source, const QString &parentId, Settings &settings)
{
    readSettings(source, settings);
    auto object = std::make_shared<Object>();
    QQmlEngine::setObjectOwnership(object.get(), QQmlEngine::CppOwnership);
    object->setId(QString::number(source.id()));
    object->setName(QString::fromStdString(settings.title.empty() ? source.name() : settings.title));
    object->setIdParent(parentId);
    return object;
}

int portOf(const Settings &settings)
{
    bool ok = false;
    const int port = QString::fromStdString(settings.port).toInt(&ok, 10);
    return ok ? port : 0;
}

bool isLiveClass(const std::string &className)
{
    static const char suffix[] = ".live";
    const size_t length = sizeof(suffix) - 1;
    if (!isAscii(className))
        return QString::fromStdString(className).toLower().endsWith(QLatin1String(suffix));
    return className.size() >= length && qstricmp(className.c_str() + className.size() - length, suffix) == 0;
}

// sourceUrlFor(url), made from the set's own text of the url where that is the same.
QString sourceUrlOf(const std::string &text, const QString &url)
{
    if (!isAscii(text))
        return sourceUrlFor(url);
    return QString::fromStdString(SourceAddress::forStream(text, std::string(), 0));
}

} // namespace

QString sourceUrlFor(const QString &url)
{
    // A gateway's ZeroMQ port is only known once its streams have been listed.
    return QString::fromStdString(SourceAddress::forStream(url.toStdString(), std::string(), 0));
}

ObjectList walkObjects(const FetchedObjects &objects, qint64 rootId)
{
    const ChildSource source(objects);
    ObjectList result;
    result.reserve(objects.size()); // at most one row per object
    Settings settings;
    // Containers and devices already descended into: a set whose parent links form
    // a loop would otherwise be walked forever.
    QSet<qint64> entered;
    entered.insert(rootId);

    // Depth first, without recursion, so a deeply nested set cannot exhaust the stack.
    QVector<Frame> stack;
    stack.append({source.childrenOf(rootId), 0, QString(), QString(), 0});
    while (!stack.isEmpty()) {
        Frame &frame = stack.last();
        if (frame.next >= frame.children.size()) {
            stack.removeLast();
            continue;
        }
        const korvu::es::Object &child = *frame.children.at(frame.next++);
        const QString parentId = frame.parentId;
        const QString host = frame.host;
        const int port = frame.port;

        switch (child.type()) {
        case korvu::es::Object::Container:
            if (entered.contains(child.id())) {
                qCWarning(lcImport, "Object %lld is its own ancestor; its children are skipped", child.id());
                break;
            }
            entered.insert(child.id());
            stack.append({source.childrenOf(child.id()), 0, parentId, host, port});
            break;
        case korvu::es::Object::Stream: {
            const korvu::es::StreamObject stream = child.toStream();
            if (!isLiveClass(child.className()))
                break;
            auto object = newObject(child, parentId, settings);
            if (settings.fisheye == "1")
                object->setIsFisheye(true);
            const QString url = QString::fromStdString(settings.url);
            object->setUrl(url);
            const QString sourceUrl = sourceUrlOf(settings.url, url);
            if (!sourceUrl.isEmpty())
                object->setSourceUrl(sourceUrl);
            object->setType(Object::Stream);
            object->setSerial(QString::fromStdString(stream.serialNumber()));
            object->setHost(host);
            object->setPort(port);
            result.append(object);
            break;
        }
        case korvu::es::Object::Device: {
            const korvu::es::DeviceObject device = child.toDevice();
            auto object = newObject(child, parentId, settings);
            const QString deviceHost = QString::fromStdString(settings.host);
            const int devicePort = portOf(settings);
            object->setHost(deviceHost);
            object->setPort(devicePort);
            object->setType(Object::Device);
            object->setSerial(QString::fromStdString(device.serialNumber()));
            result.append(object);
            if (entered.contains(child.id())) {
                qCWarning(lcImport, "Object %lld is its own ancestor; its children are skipped", child.id());
                break;
            }
            entered.insert(child.id());
            stack.append({source.childrenOf(child.id()), 0, object->id(), deviceHost, devicePort});
            break;
        }
        default:
            break;
        }
    }
    return result;
}

QCollator nameCollator()
{
    // Qt collates the C locale by code points and ignores numeric mode there; a
    // program started without a locale (LANG unset) still sorts "9" before "10".
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator{locale};
    collator.setNumericMode(true);
    return collator;
}

bool objectOrder(const std::shared_ptr<Object> &a, const std::shared_ptr<Object> &b, const QCollator &collator)
{
    const bool aDevice = a->type() == Object::Device;
    const bool bDevice = b->type() == Object::Device;
    if (aDevice != bDevice)
        return aDevice;
    return collator.compare(a->name(), b->name()) < 0;
}

void sortObjects(ObjectList &objects)
{
    const QCollator collator = nameCollator();
    // Comparing precomputed sort keys orders exactly as the collator does, without
    // collating the same names again for every comparison.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(size_t(objects.size()));
    for (const auto &object : qAsConst(objects))
        keys.push_back(collator.sortKey(object->name()));
    // The rows are sorted rather than the objects and their keys, which are costlier
    // to move; equal names keep their visiting order.
    struct Row
    {
        bool device;
        int row;
    };
    std::vector<Row> rows;
    rows.reserve(keys.size());
    for (int row = 0; row < objects.size(); ++row)
        rows.push_back({objects.at(row)->type() == Object::Device, row});
    std::stable_sort(rows.begin(), rows.end(), [&keys](const Row &a, const Row &b) {
        if (a.device != b.device)
            return a.device;
        return keys[size_t(a.row)].compare(keys[size_t(b.row)]) < 0;
    });
    ObjectList sorted;
    sorted.reserve(objects.size());
    for (const Row &row : rows)
        sorted.append(std::move(objects[row.row]));
    objects = std::move(sorted);
}

} // namespace objectimport

void importObjects(const QHash<qint64, korvu::es::Object> &objects, qint64 rootId)
{
    RepoObjects *model = RepoObjects::instance();
    RepoObjViews *views = RepoObjViews::instance();
    if (model && views)
        objectimport::apply(objects, rootId, *model, *views, LocalDatabase::instance());
    else
        qCWarning(lcImport, "Import skipped: the object models are not set up");

    if (EventServer *server = EventServer::instance())
        emit server->fetchedObject();
}

void objectimport::apply(const FetchedObjects &objects, qint64 rootId, RepoObjects &model, RepoObjViews &views,
                         const LocalDatabase *database)
{
    ObjectList list = walkObjects(objects, rootId);
    sortObjects(list);
    // The stored switch and lens settings go to the objects before the model shows them.
    if (database)
        database->applyStoredSettings(list);
    model.clear();
    model.setObjects(list);
    if (!database)
        return;
    const auto &present = model.objectsBySerial();
    QList<std::shared_ptr<ViewInfo>> restored;
    for (const auto &info : database->orderedViewInfos()) {
        if (present.contains(info->serialStream))
            restored.append(info);
    }
    views.restoreViews(restored);
}
