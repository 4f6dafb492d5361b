#include "app/appstate.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

class TestAppState : public QObject
{
    Q_OBJECT

private slots:
    void init() { AppState::create(); }
    void cleanup() { AppState::destroy(); }

    void startsSignedOutAndEmpty()
    {
        auto *state = AppState::instance();
        QVERIFY(!state->loggedIn());
        QVERIFY(state->host().isEmpty());
        QCOMPARE(state->port(), 0);
        QVERIFY(state->username().isEmpty());
        QVERIFY(state->password().isEmpty());
        QCOMPARE(state->currentUserId(), qint64(0));
    }

    void writingTheSameValueTwiceNotifiesOnce()
    {
        auto *state = AppState::instance();
        QSignalSpy host(state, &AppState::hostChanged);
        QSignalSpy port(state, &AppState::portChanged);
        QSignalSpy user(state, &AppState::usernameChanged);
        QSignalSpy password(state, &AppState::passwordChanged);
        for (int i = 0; i < 2; ++i) {
            state->setHost(QStringLiteral("es.example"));
            state->setPort(7400);
            state->setUsername(QStringLiteral("operator"));
            state->setPassword(QStringLiteral("s3cret"));
        }
        QCOMPARE(host.count(), 1);
        QCOMPARE(port.count(), 1);
        QCOMPARE(user.count(), 1);
        QCOMPARE(password.count(), 1);
        QCOMPARE(state->host(), QStringLiteral("es.example"));
        QCOMPARE(state->port(), 7400);

        state->setHost(QString());
        QCOMPARE(host.count(), 2);
        QVERIFY(state->host().isEmpty());
    }

    void failedFirstSignInEmitsNothing()
    {
        auto *state = AppState::instance();
        QSignalSpy logged(state, &AppState::loggedInChanged);
        QSignalSpy user(state, &AppState::currentUserIdChanged);
        state->setLoggedIn(false);
        state->setCurrentUserId(0);
        QCOMPARE(logged.count(), 0);
        QCOMPARE(user.count(), 0);
    }

    void failedSignInAfterSuccessResetsBoth()
    {
        auto *state = AppState::instance();
        state->setLoggedIn(true);
        state->setCurrentUserId(42);
        QSignalSpy logged(state, &AppState::loggedInChanged);
        QSignalSpy user(state, &AppState::currentUserIdChanged);
        state->setLoggedIn(false);
        state->setCurrentUserId(0);
        QCOMPARE(logged.count(), 1);
        QCOMPARE(user.count(), 1);
        QVERIFY(!state->loggedIn());
        QCOMPARE(state->currentUserId(), qint64(0));
    }

    void repeatedSignInWithSameUserEmitsNothingNew()
    {
        auto *state = AppState::instance();
        state->setLoggedIn(true);
        state->setCurrentUserId(7);
        QSignalSpy logged(state, &AppState::loggedInChanged);
        QSignalSpy user(state, &AppState::currentUserIdChanged);
        state->setLoggedIn(true);
        state->setCurrentUserId(7);
        QCOMPARE(logged.count(), 0);
        QCOMPARE(user.count(), 0);
    }

    void largeUserIdsSurvive()
    {
        auto *state = AppState::instance();
        const qint64 id = Q_INT64_C(9007199254740993);
        state->setCurrentUserId(id);
        QCOMPARE(state->currentUserId(), id);
    }

    // The setters may be called from any thread (the connector hands its writes over to the GUI
    // thread first, but AppState does not rely on that): a receiver living on the GUI thread gets
    // the notifications queued there, in order.
    void signInFromWorkerThreadReachesGuiThreadQueued()
    {
        auto *state = AppState::instance();
        QObject receiver;
        QList<QThread *> deliveredOn;
        QStringList order;
        connect(state, &AppState::loggedInChanged, &receiver, [&] {
            deliveredOn << QThread::currentThread();
            order << QStringLiteral("loggedIn");
        });
        connect(state, &AppState::currentUserIdChanged, &receiver, [&] {
            deliveredOn << QThread::currentThread();
            order << QStringLiteral("userId");
        });

        QThread *worker = QThread::create([state] {
            state->setLoggedIn(true);
            state->setCurrentUserId(1234);
        });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;

        QTRY_COMPARE_WITH_TIMEOUT(order.size(), 2, 5000);
        QCOMPARE(order, (QStringList{QStringLiteral("loggedIn"), QStringLiteral("userId")}));
        for (QThread *thread : qAsConst(deliveredOn))
            QCOMPARE(thread, QThread::currentThread());
        QVERIFY(state->loggedIn());
        QCOMPARE(state->currentUserId(), qint64(1234));
    }

    void concurrentWritersLeaveAConsistentValue()
    {
        auto *state = AppState::instance();
        QList<QThread *> threads;
        for (int t = 0; t < 4; ++t) {
            threads << QThread::create([state, t] {
                for (int i = 0; i < 2000; ++i) {
                    state->setLoggedIn(i % 2 == 0);
                    state->setCurrentUserId(t * 10000 + i);
                }
            });
        }
        for (QThread *thread : qAsConst(threads))
            thread->start();
        for (QThread *thread : qAsConst(threads)) {
            QVERIFY(thread->wait(10000));
            delete thread;
        }
        const qint64 last = state->currentUserId();
        QVERIFY(last % 10000 == 1999);
        QVERIFY(!state->loggedIn());
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
