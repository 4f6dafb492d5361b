// The undo history of the defish window: steps recorded, walked back and forth, dropped by a new
// step after an undo or by a reset, and bounded in number.
#include "defish/edithistory.h"

#include <QSignalSpy>
#include <QtTest>

class TestEditHistory : public QObject
{
    Q_OBJECT

private slots:
    // Each step is "N" (record the state N), "u" (undo), "r" (redo) or "0N" (reset to N); what each
    // undo or redo gave (-1: nothing) and where the history ends.
    void stepsWalkBackAndForth_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QList<int>>("given");
        QTest::addColumn<int>("current");
        QTest::addColumn<bool>("canUndo");
        QTest::addColumn<bool>("canRedo");
        QTest::newRow("nothing to undo at the start")
            << QStringList{"01", "u", "r"} << QList<int>{-1, -1} << 1 << false << false;
        QTest::newRow("back to the start and forth again")
            << QStringList{"01", "2", "3", "u", "u", "u", "r"} << QList<int>{2, 1, -1, 2} << 2 << true << true;
        QTest::newRow("the same state twice is one step")
            << QStringList{"01", "2", "2", "u"} << QList<int>{1} << 1 << false << true;
        QTest::newRow("a step after an undo drops the redo steps")
            << QStringList{"01", "2", "3", "u", "u", "4", "r", "u"} << QList<int>{2, 1, -1, 1} << 1 << false << true;
        QTest::newRow("recording the state undone to changes nothing")
            << QStringList{"01", "2", "u", "1", "r"} << QList<int>{1, 2} << 2 << true << false;
        QTest::newRow("a reset forgets every step")
            << QStringList{"01", "2", "3", "u", "05", "u", "r"} << QList<int>{2, -1, -1} << 5 << false << false;
        QTest::newRow("recording without a reset starts the history")
            << QStringList{"7", "8", "u", "u"} << QList<int>{7, -1} << 7 << false << true;
    }

    void stepsWalkBackAndForth()
    {
        QFETCH(QStringList, steps);
        QFETCH(QList<int>, given);
        QFETCH(int, current);
        QFETCH(bool, canUndo);
        QFETCH(bool, canRedo);
        EditHistory history;
        QSignalSpy undoSpy(&history, &EditHistory::canUndoChanged);
        QSignalSpy redoSpy(&history, &EditHistory::canRedoChanged);
        QList<int> got;
        bool couldUndo = false, couldRedo = false;
        int undoChanges = 0, redoChanges = 0;
        for (const QString &step : steps) {
            if (step == "u" || step == "r") {
                const QVariantMap state = step == "u" ? history.undo() : history.redo();
                got << (state.isEmpty() ? -1 : state.value("v").toInt());
            } else if (step.startsWith('0')) {
                history.reset({{"v", step.mid(1).toInt()}});
            } else {
                history.record({{"v", step.toInt()}});
            }
            undoChanges += history.canUndo() != couldUndo;
            redoChanges += history.canRedo() != couldRedo;
            couldUndo = history.canUndo();
            couldRedo = history.canRedo();
        }
        QCOMPARE(got, given);
        QCOMPARE(history.current().value("v").toInt(), current);
        QCOMPARE(history.canUndo(), canUndo);
        QCOMPARE(history.canRedo(), canRedo);
        // Each property notifies once per change of its value, and never otherwise.
        QCOMPARE(undoSpy.count(), undoChanges);
        QCOMPARE(redoSpy.count(), redoChanges);
    }

    // States as QML hands them over: a whole number may come as an int or a double, a quad's views as
    // a list of maps. The same values are the same state; a changed value deep inside is another.
    void statesCompareByValue()
    {
        const auto quad = [](double pan) {
            return QVariantList{QVariantMap{{"pan", pan}, {"zoom", 70}}, QVariantMap{{"pan", 45}, {"zoom", 70}}};
        };
        EditHistory history;
        history.reset({{"roll", 20}, {"mode", "quad"}, {"quad", quad(-45)}});
        QVERIFY(!history.record({{"roll", 20.0}, {"mode", "quad"}, {"quad", quad(-45.0)}}));
        QVERIFY(history.record({{"roll", 20.0}, {"mode", "quad"}, {"quad", quad(-44.5)}}));
        QVERIFY(history.record({{"roll", 20.0}, {"mode", "panorama"}, {"quad", quad(-44.5)}}));
        QCOMPARE(history.undo().value("mode").toString(), QStringLiteral("quad"));
    }

    // Past the limit the oldest steps go; the newest stay.
    void theOldestStepsGoPastTheLimit()
    {
        EditHistory history;
        for (int i = 0; i < EditHistory::kLimit + 20; ++i)
            QVERIFY(history.record({{"v", i}}));
        int undone = 0;
        QVariantMap state;
        while (!(state = history.undo()).isEmpty()) {
            ++undone;
            QCOMPARE(state.value("v").toInt(), EditHistory::kLimit + 19 - undone);
        }
        QCOMPARE(undone, EditHistory::kLimit - 1);
        QCOMPARE(history.current().value("v").toInt(), 20);
    }
};

QTEST_GUILESS_MAIN(TestEditHistory)
#include "tst_edithistory.moc"
