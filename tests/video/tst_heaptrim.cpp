// Freed memory of a streaming thread's arena goes back to the system on a trim,
// and trims asked for in a burst (every pipeline of a closing window) run once.
#include "support/logcapture.h"
#include "support/processinfo.h"
#include "video/heaptrim.h"

#include <QtTest>

#include <memory>
#include <thread>
#include <vector>

class TestHeapTrim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("quillon.video.heaptrim.debug=true"));
        m_capture = std::make_unique<LogCapture>();
    }

    void cleanupTestCase() { m_capture.reset(); }

    void init() { m_capture->clear(); }

    void freedFramesOfAStreamingThreadGoBack()
    {
#if !defined(__GLIBC__)
        QSKIP("the C library offers no trim");
#elif defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer's allocator keeps its own pages");
#endif
        // As a decoder thread does: frame-sized blocks from the thread's own
        // arena, all freed but the last, which pins the arena's top.
        const size_t frame = 64 * 1024;
        const int frames = 1024; // 64 MiB
        std::vector<char *> blocks;
        std::thread decoder([&blocks, frame] {
            for (int i = 0; i < frames; ++i) {
                char *block = static_cast<char *>(malloc(frame));
                memset(block, i & 0xff, frame);
                blocks.push_back(block);
            }
            for (int i = 0; i < frames - 1; ++i)
                free(blocks[size_t(i)]);
        });
        decoder.join();

        const qint64 held = ProcessInfo::residentKiB();
        QVERIFY(held > 0);
        QVERIFY(HeapTrim::trimNow());
        const qint64 trimmed = ProcessInfo::residentKiB();
        QVERIFY2(held - trimmed > 32 * 1024,
                 qPrintable(QStringLiteral("resident %1 KiB before, %2 KiB after").arg(held).arg(trimmed)));
        QCOMPARE(trims(), 1);
        free(blocks.back());
    }

    void aBurstOfRequestsTrimsOnceAfterTheDelay()
    {
        HeapTrim::schedule(std::chrono::milliseconds(100));
        HeapTrim::schedule(std::chrono::milliseconds(100));
        HeapTrim::schedule();
        QCOMPARE(trims(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(trims(), 1, 5000);
        QTest::qWait(HeapTrim::kDefaultDelay.count() + 200);
        QCOMPARE(trims(), 1);

        // A request after the trim ran schedules a new one.
        HeapTrim::schedule(std::chrono::milliseconds(10));
        QTRY_COMPARE_WITH_TIMEOUT(trims(), 2, 5000);
    }

    void aRequestFromAnotherThreadTrimsThere()
    {
        std::thread other([] { HeapTrim::schedule(); });
        other.join();
        QCOMPARE(trims(), 1);
    }

private:
    int trims() const
    {
        return m_capture->countStartingWith(QStringLiteral("heap trimmed"));
    }

    std::unique_ptr<LogCapture> m_capture;
};

QTEST_GUILESS_MAIN(TestHeapTrim)
#include "tst_heaptrim.moc"
