// The main window's lists with many views: a stream row creates only the view
// rows in sight, lists exactly its own views, and follows views added later and
// switched on through it. Switching the language retranslates the main, login
// and defish windows and switching back restores their English texts. Unsaved
// changes show, closing asks about them, and a save says what it wrote.
#include "app/i18n.h"
#include "app/startup.h"
#include "repo/localdatabase.h"
#include "repo/objectfactory.h"
#include "repo/repobjviews.h"
#include "repo/repoobjects.h"
#include "repo/unsavedchanges.h"
#include "support/programfixture.h"
#include "support/uidriver.h"
#include "video/servedviewsmodel.h"

#include <QCoreApplication>
#include <QDir>
#include <QQuickWindow>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace UiDriver;

namespace {

const int kManyViews = 3000;

std::shared_ptr<ViewInfo> viewInfo(const QString &serial, const QString &name)
{
    auto info = std::make_shared<ViewInfo>();
    info->serialStream = serial;
    info->name = name;
    return info;
}

// Every item under root with the object name, in sight or not.
QList<QQuickItem *> allItems(QQuickItem *root, const QString &name)
{
    QList<QQuickItem *> found;
    const auto children = root->childItems();
    for (QQuickItem *child : children) {
        if (child->objectName() == name)
            found << child;
        found << allItems(child, name);
    }
    return found;
}

QStringList texts(const QList<QQuickItem *> &items)
{
    QStringList result;
    for (QQuickItem *item : items)
        result << item->property("text").toString();
    result.sort();
    return result;
}

// Source texts with their translation contexts (the QML document's name).
using Texts = QList<QPair<QString, QString>>;

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir::setCurrent(m_dir.path()));
        m_program.setUp();
        LocalDatabase::instance()->setDataPath(m_dir.filePath("objects.data"));
        QVERIFY(LocalDatabase::instance()->open());
        m_main = m_program.loadMain();
        QVERIFY2(m_main, qPrintable(m_program.loadErrors()));
        // Signed in, as far as the lists are concerned: the login window (shown
        // once its parent is) goes away.
        QQuickWindow *login = window(m_main, "winLogin");
        QVERIFY(QTest::qWaitForWindowExposed(login));
        login->setVisible(false);
        QVERIFY(QTest::qWaitForWindowExposed(m_main));
        m_main->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(m_main));

        // One gateway with a stream of two views, one of many and one of none.
        auto gateway = makeGateway("1", "GW-1");
        // A fisheye stream: its views can be opened in the defish window.
        auto fisheye = makeStream("11", gateway, "S-B");
        fisheye->setIsFisheye(true);
        RepoObjects::instance()->setObjects(
            {gateway, fisheye, makeStream("12", gateway, "S-A"), makeStream("13", gateway, "S-C")});
        QList<std::shared_ptr<ViewInfo>> views;
        for (int i = 0; i < kManyViews; ++i)
            views << viewInfo("S-A", QStringLiteral("a%1").arg(i));
        views << viewInfo("S-B", "b1") << viewInfo("S-B", "b2");
        QCOMPARE(RepoObjViews::instance()->appendViews(views), kManyViews + 2);
        QTRY_COMPARE(item(m_main, "lstStreams")->property("count").toInt(), 3);
    }

    void cleanupTestCase()
    {
        m_program.tearDown();
        QDir::setCurrent(QDir::tempPath());
    }

    void onlyTheViewRowsInSightAreCreated()
    {
        QTRY_VERIFY(row("S-A") && row("S-B") && row("S-C"));
        // Lists that grow with their content keep adding rows over a few frames.
        QTest::qWait(1000);
        const int created = allItems(m_main->contentItem(), "chkView").size();
        QVERIFY2(created < 60, qPrintable(QString::number(created)));
        QTRY_VERIFY(!visibleItems(item(row("S-A"), "lstViews"), "chkView").isEmpty());
    }

    void eachStreamListsItsOwnViews()
    {
        QTRY_COMPARE(texts(allItems(row("S-B"), "chkView")), (QStringList{"b1", "b2"}));
        QVERIFY(!item(row("S-C"), "lstViews")->isVisible());

        RepoObjViews::instance()->appendView("b3", "S-B", 0, 0, 0, 1);
        RepoObjViews::instance()->appendView("c1", "S-C", 0, 0, 0, 1);
        QTRY_COMPARE(texts(allItems(row("S-B"), "chkView")), (QStringList{"b1", "b2", "b3"}));
        QTRY_VERIFY(item(row("S-C"), "lstViews")->isVisible());
        QCOMPARE(texts(allItems(row("S-C"), "chkView")), QStringList{"c1"});
    }

    void switchingAViewOnReachesTheViewModel()
    {
        QQuickItem *b2 = nullptr;
        QTRY_VERIFY((b2 = itemWithText(row("S-B"), "b2")));
        QVERIFY(click(b2));
        QTRY_VERIFY(b2->property("checked").toBool());
        const auto &views = RepoObjViews::instance()->views();
        QCOMPARE(views.at(kManyViews + 1)->name(), QStringLiteral("b2"));
        QVERIFY(views.at(kManyViews + 1)->isActive());
        QVERIFY(!views.at(kManyViews)->isActive());
    }

    // Unsaved changes show in the title and on Save; closing then asks Save / Discard / Cancel. Save
    // says what it wrote and clears the marks.
    void unsavedChangesAreShownAndClosingAsksFirst_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<bool>("saved");
        QTest::newRow("cancel") << "btnClose" << false << false;
        QTest::newRow("discard") << "btnOther" << true << false;
        QTest::newRow("save") << "btnAction" << true << true;
    }

    void unsavedChangesAreShownAndClosingAsksFirst()
    {
        QFETCH(QString, choice);
        QFETCH(bool, closes);
        QFETCH(bool, saved);
        QQuickItem *save = item(m_main, "btnSave");
        QQuickItem *report = item(m_main, "lblSaveReport");
        QVERIFY(save && report);
        QVERIFY(click(save));
        QTRY_VERIFY(!LocalDatabase::instance()->isSaving() && !UnsavedChanges::instance()->isDirty());
        QCOMPARE(m_main->title(), QStringLiteral("Quillon"));
        QVERIFY(!save->property("highlighted").toBool());
        const QRegularExpression wrote(QStringLiteral("^Saved 1 gateways, 0 streams, %1 views at \\d\\d:\\d\\d$")
                                           .arg(RepoObjViews::instance()->rowCount()));
        QTRY_VERIFY2(report->isVisible() && wrote.match(report->property("text").toString()).hasMatch(),
                     qPrintable(report->property("text").toString()));

        QQuickItem *b1 = nullptr;
        QTRY_VERIFY((b1 = itemWithText(row("S-B"), "b1")));
        QVERIFY(click(b1));
        const bool ticked = b1->property("checked").toBool();
        QTRY_COMPARE(m_main->title(), QStringLiteral("*Quillon"));
        QVERIFY(save->property("highlighted").toBool());

        m_main->close();
        QObject *confirm = object(m_main, "confirmClose");
        QVERIFY(confirm);
        QTRY_VERIFY(confirm->property("opened").toBool());
        QVERIFY(m_main->isVisible());
        QVERIFY(click(item(confirm, choice)));
        QTRY_COMPARE(m_main->isVisible(), !closes);
        QCOMPARE(UnsavedChanges::instance()->isDirty(), !saved);
        QCOMPARE(storedIsActive("b1"), saved ? ticked : !ticked);
        if (closes) {
            m_main->show();
            QVERIFY(QTest::qWaitForWindowExposed(m_main));
            m_main->requestActivate();
            QVERIFY(QTest::qWaitForWindowActive(m_main));
        }
    }

    // A name opens its row's menu without switching the row. By keyboard, Tab reaches the next row and
    // rings it; Shift+F10 and the Menu key open its menu, Space switches it, Delete asks with the view's
    // and the stream's names, Enter opens the view in the defish window.
    void rowsAreUsedByTheirNameAndByKeyboard()
    {
        QQuickItem *stream = row("S-B");
        QQuickItem *b1 = nullptr;
        QQuickItem *b2 = nullptr;
        QTRY_VERIFY((b1 = viewRow("S-B", "b1")) && (b2 = viewRow("S-B", "b2")));
        for (QQuickItem *named : {stream, b1}) {
            QQuickItem *box = item(named, named == stream ? "chkStream" : "chkView");
            QObject *menu = named->findChild<QObject *>(named == stream ? "streamCtxMenu" : "viewCtxMenu");
            QQuickItem *area = item(named, named == stream ? "areaContextMenu" : "areaViewMenu");
            const bool was = box->property("checked").toBool();
            // The name's first letters.
            QVERIFY(clickAt(area, QPointF(4, area->height() / 2)));
            QTRY_VERIFY(menu->property("opened").toBool());
            QCOMPARE(box->property("checked").toBool(), was);
            QTest::keyClick(m_main, Qt::Key_Escape);
            QTRY_VERIFY(!menu->property("visible").toBool());
        }
        QTRY_VERIFY(b1->hasActiveFocus());
        QVERIFY(item(b1, "focusRing")->isVisible());

        QTest::keyClick(m_main, Qt::Key_Tab);
        QTRY_VERIFY(b2->hasActiveFocus());
        QVERIFY(item(b2, "focusRing")->isVisible() && !item(b1, "focusRing")->isVisible());
        QObject *menu = b2->findChild<QObject *>("viewCtxMenu");
        for (const auto &keys : {qMakePair(Qt::Key_Menu, Qt::NoModifier), qMakePair(Qt::Key_F10, Qt::ShiftModifier)}) {
            QTest::keyClick(m_main, keys.first, keys.second);
            QTRY_VERIFY(menu->property("opened").toBool());
            QTest::keyClick(m_main, Qt::Key_Escape);
            QTRY_VERIFY(!menu->property("visible").toBool());
            QTRY_VERIFY(b2->hasActiveFocus());
        }
        const bool active = RepoObjViews::instance()->viewOf("S-B", "b2").value("isActive").toBool();
        QTest::keyClick(m_main, Qt::Key_Space);
        QCOMPARE(RepoObjViews::instance()->viewOf("S-B", "b2").value("isActive").toBool(), !active);
        QCOMPARE(item(b2, "chkView")->property("checked").toBool(), !active);

        QTest::keyClick(m_main, Qt::Key_Delete);
        QObject *confirm = object(m_main, "confirmDeleteView");
        QTRY_VERIFY(confirm->property("opened").toBool());
        QCOMPARE(confirm->property("text").toString(),
                 QStringLiteral("Delete the view “b2” of stream Stream S-B? It leaves objects.data at the next Save."));
        QVERIFY(click(item(confirm, "btnClose")));
        QTRY_VERIFY(!confirm->property("visible").toBool());
        QVERIFY(RepoObjViews::instance()->hasView("S-B", "b2"));

        b2->forceActiveFocus();
        QTest::keyClick(m_main, Qt::Key_Return);
        QQuickWindow *defish = window(m_main, "winDefish");
        QTRY_VERIFY(defish->isVisible());
        QCOMPARE(item(defish, "lblDefishMode")->property("text").toString(), QStringLiteral("Editing view “b2”"));
        QVERIFY(QMetaObject::invokeMethod(defish, "close"));
        QTRY_VERIFY(!defish->isVisible());
    }

    // The main window has its own language switch; the login window's follows it.
    void theLanguageIsSwitchedInTheMainWindow()
    {
        QQuickItem *combo = item(m_main, "cbMainLanguage");
        QVERIFY(combo);
        const QString streams = QCoreApplication::translate("main", "Streams");
        QVERIFY(chooseInCombo(combo, "Portuguese"));
        const auto restore = qScopeGuard([] { I18n::instance()->setLocale(QStringLiteral("en_US")); });
        QCOMPARE(I18n::instance()->locale(), QStringLiteral("pt_BR"));
        QVERIFY(itemWithText(m_main->contentItem(), QCoreApplication::translate("main", "Streams")));
        QVERIFY(QCoreApplication::translate("main", "Streams") != streams);
        QCOMPARE(item(window(m_main, "winLogin"), "cbLanguage")->property("currentIndex").toInt(), 1);
        QVERIFY(chooseInCombo(combo, "English"));
        QCOMPARE(I18n::instance()->locale(), QStringLiteral("en_US"));
        QVERIFY(itemWithText(m_main->contentItem(), "Streams"));
    }

    // Texts read back from the Portuguese catalogue through the installed translator.
    // Streams sit under their gateway's name, which folds them away and back, by mouse or keyboard;
    // the stream rows keep their own behaviour (rowsAreUsedByTheirNameAndByKeyboard).
    void streamsAreGroupedUnderTheirGatewayAndFold()
    {
        QTRY_VERIFY(row("S-A") && row("S-B") && row("S-C"));
        const QList<QQuickItem *> sections = allItems(m_main->contentItem(), "gatewaySection");
        QCOMPARE(sections.size(), 1);
        QQuickItem *section = sections.first();
        QCOMPARE(section->property("text").toString(), QStringLiteral("▾ Gateway GW-1"));
        for (const char *serial : {"S-A", "S-B", "S-C"})
            QVERIFY(row(serial)->y() > section->y());

        QVERIFY(click(section));
        QTRY_COMPARE(section->property("text").toString(), QStringLiteral("▸ Gateway GW-1"));
        for (const char *serial : {"S-A", "S-B", "S-C"}) {
            QTRY_VERIFY(!row(serial)->isVisible());
            QCOMPARE(row(serial)->height(), 0.0);
        }
        section->forceActiveFocus(Qt::TabFocusReason);
        key(section, Qt::Key_Return);
        QTRY_VERIFY(row("S-A")->isVisible() && row("S-A")->height() > 0);
        QCOMPARE(section->property("text").toString(), QStringLiteral("▾ Gateway GW-1"));
    }

    // 60 stored views, 40 of them served with long addresses: the panel's list scrolls inside its
    // own rows, below the lists, and Save and Start stay in the 400x600 window.
    void theServerPanelKeepsTheListsAndButtonsInTheWindow()
    {
        m_main->resize(400, 600);
        auto *views = qvariant_cast<ServedViewsModel *>(object(m_main, "serverController")->property("views"));
        QVERIFY(views);
        QVector<ServedViewsModel::Entry> entries;
        ServerStatus status;
        for (int i = 0; i < 60; ++i) {
            const QString stream = QStringLiteral("S-%1").arg(i / 4);
            const QString name = QStringLiteral("A rather long view name %1").arg(i);
            entries.append({stream, name, i < 40 ? QString() : QStringLiteral("view not ticked"), {}, 0, {}});
            if (i < 40)
                status.views.append({stream,
                                     name,
                                     QStringLiteral("rtsp://quillon-host.example:8554/%1/%2").arg(stream, name),
                                     false,
                                     0,
                                     0,
                                     0.0,
                                     {}});
        }
        views->setEntries(entries);
        views->applyStatus(status, {});
        QCOMPARE(views->servedCount(), 40);
        QQuickItem *list = item(m_main, "lstServedViews");
        QTRY_VERIFY(list->isVisible() && list->height() > 0);
        QTest::qWait(100);
        const QRectF window(0, 0, m_main->width(), m_main->height());
        for (const char *name : {"btnSave", "btnStartStop", "lstServedViews", "txtServedFilter"}) {
            QQuickItem *it = item(m_main, name);
            const QRectF rect = it->mapRectToScene(QRectF(0, 0, it->width(), it->height()));
            QVERIFY2(window.contains(rect), name);
        }
        QQuickItem *streams = item(m_main, "lstStreams");
        const QRectF streamsRect = streams->mapRectToScene(QRectF(0, 0, streams->width(), streams->height()));
        QVERIFY(streamsRect.height() > 50);
        QVERIFY(list->mapToScene(QPointF(0, 0)).y() >= streamsRect.bottom());
        QVERIFY(list->property("contentHeight").toReal() > list->height());
        // Filtering narrows the list to what matches.
        QVERIFY(typeInto(item(m_main, "txtServedFilter"), "name 59"));
        QTRY_COMPARE(views->count(), 1);
        QVERIFY(typeInto(item(m_main, "txtServedFilter"), ""));
        views->setEntries({});
    }

    void languageSwitchRetranslatesEveryWindow_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<Texts>("title");
        QTest::addColumn<Texts>("texts");
        QTest::newRow("login") << "winLogin" << Texts{{"WinLogin", "Login"}}
                               << Texts{{"WinLogin", "Language"},
                                        {"WinLogin", "Password"},
                                        {"WinLogin", "Remember credentials"},
                                        {"WinLogin", "Exit"},
                                        {"WinLogin", "Login"}};
        // The program's name stays as it is.
        QTest::newRow("main") << "winMain" << Texts()
                              << Texts{{"main", "Streams"},
                                       {"main", "Save"},
                                       {"main", "Start"},
                                       {"main", "Server: stopped"}};
        QTest::newRow("defish") << "winDefish" << Texts{{"WinDefish", "Defish"}}
                                << Texts{{"WinDefish", "Close"},
                                         {"WinDefish", "Ok"},
                                         {"DefishControls", "Params"},
                                         {"DefishControls", "Camera specs (global)"},
                                         {"DefishControls", "Radius"}};
    }

    void languageSwitchRetranslatesEveryWindow()
    {
        QFETCH(QString, window);
        QFETCH(Texts, title);
        QFETCH(Texts, texts);
        QQuickWindow *shown = window == m_main->objectName() ? m_main : UiDriver::window(m_main, window);
        QVERIFY(shown);
        if (window == QLatin1String("winDefish")) {
            // No source: the content shows its controls without pictures.
            m_stream = makeStream("21", nullptr, "S-D");
            m_stream->setUrl(m_dir.filePath("absent.avi"));
            shown->setProperty("objectInstance", QVariant::fromValue<QObject *>(m_stream.get()));
        }
        shown->setVisible(true);
        QVERIFY(QTest::qWaitForWindowExposed(shown));
        // The first text the window does not show, in English or translated; empty when it shows all.
        const auto firstMissing = [&](bool translated) {
            const Texts all = title + texts;
            for (int i = 0; i < all.size(); ++i) {
                const QString &source = all.at(i).second;
                const QString expected =
                    translated ? QCoreApplication::translate(qPrintable(all.at(i).first), qPrintable(source)) : source;
                if (translated && expected == source)
                    return source + QStringLiteral(" (no translation)");
                const bool shows = i < title.size() ? shown->title() == expected
                                                    : itemWithText(shown->contentItem(), expected) != nullptr;
                if (!shows)
                    return expected;
            }
            return QString();
        };
        // The defish content comes up on a loader.
        QTRY_COMPARE(firstMissing(false), QString());

        I18n::instance()->setLocale(QStringLiteral("pt_BR"));
        const QString untranslated = firstMissing(true);
        I18n::instance()->setLocale(QStringLiteral("en_US"));
        const QString unrestored = firstMissing(false);
        // The login window is hidden, not closed: closing it before signing in quits.
        if (window == QLatin1String("winDefish"))
            shown->close();
        else if (shown != m_main)
            shown->setVisible(false);
        QTRY_COMPARE(shown->isVisible(), shown == m_main);
        QCOMPARE(untranslated, QString());
        QCOMPARE(unrestored, QString());
    }

    // A click on a view's row beside its check box offers Edit and Duplicate, which open the defish
    // window on the view, and Delete, which asks once.
    void aViewsRowEditsDuplicatesAndDeletesIt_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("view");
        QTest::addColumn<QString>("shown");
        QTest::newRow("edit") << "menuEditView"
                              << "b1"
                              << "Editing view “b1”";
        QTest::newRow("duplicate") << "menuDuplicateView"
                                   << "b1"
                                   << "b1 copy";
        QTest::newRow("delete, cancelled") << "btnClose"
                                           << "b2" << QString();
        QTest::newRow("delete") << "btnAction"
                                << "b2" << QString();
    }

    void aViewsRowEditsDuplicatesAndDeletesIt()
    {
        QFETCH(QString, action);
        QFETCH(QString, view);
        QFETCH(QString, shown);
        QQuickItem *delegate = nullptr;
        QTRY_VERIFY((delegate = viewRow("S-B", view)));
        QQuickItem *area = item(delegate, "areaViewMenu");
        QVERIFY(clickAt(area, QPointF(area->width() - 10, area->height() / 2)));
        QQuickItem *entry = item(delegate, action.startsWith("menu") ? action : QStringLiteral("menuDeleteView"));
        QTRY_VERIFY(entry && entry->isVisible());
        QVERIFY(click(entry));

        RepoObjViews *views = RepoObjViews::instance();
        if (action.startsWith("menu")) {
            QQuickWindow *defish = window(m_main, "winDefish");
            QTRY_VERIFY(defish->isVisible());
            QQuickItem *content = item(defish, "loaderDefish")->property("item").value<QQuickItem *>();
            QVERIFY(content);
            QCOMPARE(item(content, "txtName")->property("text").toString(), action == "menuEditView" ? view : shown);
            QCOMPARE(item(defish, "lblDefishMode")->property("text").toString(),
                     action == "menuEditView" ? shown : QStringLiteral("New view"));
            QVERIFY(QMetaObject::invokeMethod(defish, "close"));
            QTRY_VERIFY(!defish->isVisible());
            QVERIFY(views->hasView("S-B", view));
            return;
        }
        QObject *confirm = object(m_main, "confirmDeleteView");
        QTRY_VERIFY(confirm->property("opened").toBool());
        QVERIFY(confirm->property("text").toString().contains(QStringLiteral("“%1”").arg(view)));
        QVERIFY(views->hasView("S-B", view));
        QVERIFY(click(item(confirm, action)));
        QTRY_VERIFY(!confirm->property("visible").toBool());
        const bool deleted = action == "btnAction";
        QCOMPARE(views->hasView("S-B", view), !deleted);
        QTRY_COMPARE(viewRow("S-B", view) == nullptr, deleted);
        QVERIFY(views->hasView("S-B", "b1"));
    }

private:
    // The view's isActive in objects.data as written.
    bool storedIsActive(const QString &name) const
    {
        bool active = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
            db.setDatabaseName(m_dir.filePath("objects.data"));
            if (db.open()) {
                QSqlQuery query(db);
                if (query.exec(QStringLiteral("SELECT isActive FROM views WHERE name = '%1'").arg(name)) &&
                    query.next())
                    active = query.value(0).toBool();
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("reader"));
        return active;
    }

    QQuickItem *viewRow(const QString &serial, const QString &name) const
    {
        QQuickItem *stream = row(serial);
        for (QQuickItem *delegate : stream ? allItems(stream, "viewDelegate") : QList<QQuickItem *>()) {
            if (delegate->property("name").toString() == name)
                return delegate;
        }
        return nullptr;
    }

    QQuickItem *row(const QString &serial) const
    {
        for (QQuickItem *delegate : allItems(m_main->contentItem(), "streamDelegate")) {
            QQuickItem *box = item(delegate, "chkStream");
            if (box && box->property("text").toString() == QStringLiteral("Stream ") + serial)
                return delegate;
        }
        return nullptr;
    }

    QTemporaryDir m_dir;
    ProgramFixture m_program;
    QQuickWindow *m_main = nullptr;
    std::shared_ptr<Object> m_stream;
};

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QGuiApplication app(argc, argv);
    // The tests close the main window and show it again.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
