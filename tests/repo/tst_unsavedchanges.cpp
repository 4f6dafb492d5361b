// The operator's edits in the gateway, stream and view models are counted as unsaved; imports,
// restores and writes of unchanged values are not; a save clears what it wrote and nothing later.
#include "objectfactory.h"
#include "repo/localdatabase.h"
#include "repo/repobjviews.h"
#include "repo/repoobjects.h"
#include "repo/unsavedchanges.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestUnsavedChanges : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_database = std::make_unique<LocalDatabase>();
        m_database->setDataPath(m_dir.filePath("objects.data"));
        QVERIFY(m_database->open());
        m_views = std::make_unique<RepoObjViews>();
        m_objects = std::make_unique<RepoObjects>();
        m_changes = std::make_unique<UnsavedChanges>();
        m_changes->watch(m_objects.get(), m_views.get(), m_database.get());
        m_gateway = makeGateway("1", "GW-1");
        m_stream = makeStream("11", m_gateway, "S-11");
        m_stream->setSourceUrl(QStringLiteral("uri:x"));
        m_stream->setRadius(100);
        m_objects->setObjects({m_gateway, m_stream});
        m_views->restoreViews({std::make_shared<ViewInfo>(ViewInfo{"S-11", "Stored", 0, 0, 0, 40, false, QStringLiteral("perspective"), QString()})});
        QVERIFY(m_views->hasView("S-11", "Stored"));
    }

    void cleanup()
    {
        m_changes.reset();
        m_objects.reset();
        m_views.reset();
        m_database.reset();
    }

    void everyEditOfTheOperatorCounts_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("logged");
        QTest::newRow("view ticked") << "tickView"
                                     << "view \"Stored\" of stream S-11 switched on";
        QTest::newRow("view added") << "addView"
                                    << "view \"New\" of stream S-11 added";
        QTest::newRow("view edited") << "editView"
                                     << "view \"Stored\" of stream S-11 edited";
        QTest::newRow("view renamed") << "renameView"
                                      << "view \"Stored\" of stream S-11 renamed to \"Other\"";
        QTest::newRow("view deleted") << "deleteView"
                                      << "view \"Stored\" of stream S-11 deleted";
        QTest::newRow("gateway switched") << "switchGateway"
                                          << "gateway \"Gateway GW-1\" switched off";
        QTest::newRow("stream switched") << "switchStream"
                                         << "stream \"Stream S-11\" switched off";
        QTest::newRow("lens") << "lens"
                              << "lens or mount of stream \"Stream S-11\" set";
        QTest::newRow("mount") << "mount"
                               << "lens or mount of stream \"Stream S-11\" set";
    }

    void everyEditOfTheOperatorCounts()
    {
        QFETCH(QString, edit);
        QFETCH(QString, logged);
        QVERIFY(!m_changes->isDirty());
        QSignalSpy dirty(m_changes.get(), &UnsavedChanges::dirtyChanged);
        const QModelIndex view = m_views->index(0, 0);
        if (edit == "tickView")
            QVERIFY(m_views->setData(view, true, RepoObjViews::ViewIsActiveRole));
        else if (edit == "addView")
            QVERIFY(m_views->appendView("New", "S-11", 0, 0, 0, 40));
        else if (edit == "editView")
            QVERIFY(m_views->updateView("S-11", "Stored", "Stored", 0, 0, 5, 40));
        else if (edit == "renameView")
            QVERIFY(m_views->updateView("S-11", "Stored", "Other", 0, 0, 0, 40));
        else if (edit == "deleteView")
            QVERIFY(m_views->removeView("S-11", "Stored"));
        else if (edit == "switchGateway")
            QVERIFY(m_objects->setData(m_objects->index(0, 0), false, RepoObjects::ObjIsActiveRole));
        else if (edit == "switchStream")
            QVERIFY(m_objects->setData(m_objects->index(1, 0), false, RepoObjects::ObjIsActiveRole));
        else if (edit == "lens")
            m_stream->setFov(185);
        else if (edit == "mount")
            m_stream->setMount("ceiling");
        QVERIFY(m_changes->isDirty());
        QCOMPARE(dirty.count(), 1);
        QCOMPARE(m_changes->changes(), QStringList{logged});
        QCOMPARE(m_changes->summary(), QStringLiteral("1 unsaved change: ") + logged);
        QVERIFY(m_database->save());
        QVERIFY(!m_changes->isDirty());
        QCOMPARE(dirty.count(), 2);
        QCOMPARE(m_changes->summary(), QString());
    }

    void writesOfUnchangedValuesAndRefusedEditsDoNotCount()
    {
        QVERIFY(m_views->setData(m_views->index(0, 0), false, RepoObjViews::ViewIsActiveRole));
        QVERIFY(m_objects->setData(m_objects->index(0, 0), true, RepoObjects::ObjIsActiveRole));
        QVERIFY(m_views->updateView("S-11", "Stored", "Stored", 0, 0, 0, 40));
        QVERIFY(!m_views->appendView("Stored", "S-11", 0, 0, 0, 40));
        QVERIFY(!m_views->removeView("S-11", "Absent"));
        m_stream->setRadius(100);
        m_stream->setFov(m_stream->fov());
        m_stream->setMount("wall");
        // A new import brings its stored settings along; the replaced rows go quiet.
        auto gateway = makeGateway("1", "GW-1");
        auto stream = makeStream("11", gateway, "S-11");
        stream->setRadius(321);
        m_objects->setObjects({gateway, stream});
        m_stream->setRadius(5);
        QCOMPARE(m_changes->count(), 0);
    }

    // The save takes its rows when it starts: what changes while it writes stays unsaved.
    void changesDuringABackgroundSaveStayUnsaved()
    {
        QVERIFY(m_views->appendView("A", "S-11", 0, 0, 0, 40));
        QSignalSpy finished(m_database.get(), &LocalDatabase::saveFinished);
        QVERIFY(m_database->saveInBackground());
        QVERIFY(m_views->appendView("B", "S-11", 0, 0, 0, 40));
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(m_changes->changes(), QStringList{"view \"B\" of stream S-11 added"});
        QCOMPARE(m_database->lastSave().value("views").toInt(), 2);

        // A refused save clears nothing.
        m_objects->clear();
        QVERIFY(!m_database->save());
        QCOMPARE(m_changes->count(), 1);
    }

    void theLogListIsBoundedButEveryChangeIsCounted()
    {
        const int total = UnsavedChanges::kMaxListed + 7;
        for (int i = 0; i < total; ++i)
            QVERIFY(m_views->appendView(QString::number(i), "S-11", 0, 0, 0, 40));
        QCOMPARE(m_changes->count(), total);
        QCOMPARE(m_changes->changes().size(), int(UnsavedChanges::kMaxListed));
        QVERIFY2(m_changes->summary().startsWith(QStringLiteral("%1 unsaved changes: ").arg(total)) &&
                     m_changes->summary().endsWith("; and 7 more"),
                 qPrintable(m_changes->summary()));
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<LocalDatabase> m_database;
    std::unique_ptr<RepoObjViews> m_views;
    std::unique_ptr<RepoObjects> m_objects;
    std::unique_ptr<UnsavedChanges> m_changes;
    std::shared_ptr<Object> m_gateway;
    std::shared_ptr<Object> m_stream;
};

QTEST_GUILESS_MAIN(TestUnsavedChanges)
#include "tst_unsavedchanges.moc"
