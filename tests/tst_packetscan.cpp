// The pass over a recording that lists where each of its frames lies, with
// Debian's ffprobe on recordings made with ffmpeg: read without the parsers
// only where that counts the same frames, and never waiting for ever.

#include "process/PacketScan.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

qint64 countedByFfprobe(const QString &file)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"), {"-v", "error", "-count_packets", "-select_streams", "v:0",
                                        "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", file});
    p.waitForFinished(60000);
    // A transport stream lists its stream once more under its program.
    return p.readAllStandardOutput().split('\n').value(0).replace(",", "").toLongLong();
}

} // namespace

class TestPacketScan final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_ffprobe;

    bool scan(PacketScan &s, const QString &file, double quickAtFps, int pid = -1)
    {
        QSignalSpy done(&s, &PacketScan::finished);
        s.start(m_ffprobe, file, quickAtFps, pid);
        return done.wait(60000) && done.first().first().toBool();
    }

private slots:
    void initTestCase()
    {
        m_ffprobe = QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
        if (m_ffprobe.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
            QSKIP("ffmpeg is not installed (./scripts/test installs it)");
    }

    void testBothWaysCountTheSameFrames_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("quickUsed");
        QTest::newRow("MPEG-2 transport stream") << QStringList{"-f", "ts"} << true;
        QTest::newRow("H.264 transport stream") << QStringList{"-v", "h264", "-a", "aac", "-f", "ts"} << true;
        // Packs of 2 KB, a frame over several and now and then two small
        // frames in one: its packets are not its frames.
        QTest::newRow("MPEG-2 program stream") << QStringList{} << false;
    }
    void testBothWaysCountTheSameFrames()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, quickUsed);
        const QString file = m_dir.filePath(QStringLiteral("rec-%1").arg(QTest::currentDataTag()));
        QCOMPARE(QProcess::execute(QStringLiteral(TRIMLET_TEST_SCRIPTS "/make_recording.sh"),
                                   QStringList(options) << file << QStringLiteral("show:30 ad:10")),
                 0);
        const qint64 frames = countedByFfprobe(file);
        QVERIFY(frames > 1000);
        PacketScan parsed;
        QVERIFY(scan(parsed, file, 0));
        QVERIFY(!parsed.wasQuick());
        QCOMPARE(parsed.packets().count(), frames);
        QVERIFY(parsed.packets().maxKeyInterval > 0);
        // Whichever way it was read, the same frames.
        PacketScan quick;
        QVERIFY(scan(quick, file, 30000.0 / 1001));
        QCOMPARE(quick.wasQuick(), quickUsed);
        QCOMPARE(quick.packets().count(), frames);
        QCOMPARE(quick.packets().times.front(), parsed.packets().times.front());
        // A transport stream's PES headers read directly: the same frames,
        // at the same times, the key frames too.
        PacketScan direct;
        QVERIFY(scan(direct, file, 30000.0 / 1001, 0x100));
        QCOMPARE(direct.wasQuick(), quickUsed);
        QCOMPARE(direct.packets().count(), frames);
        // ffprobe says its times to the microsecond.
        QVERIFY(qAbs(direct.packets().times.front() - parsed.packets().times.front()) < 1e-6);
        QVERIFY(qAbs(direct.packets().times.back() - parsed.packets().times.back()) < 1e-6);
        if (quickUsed)
            QVERIFY(qAbs(direct.packets().maxKeyInterval - parsed.packets().maxKeyInterval) < 0.01);
        // Taken for the wrong frame rate, a stream is read with the parsers.
        PacketScan wrongRate;
        QVERIFY(scan(wrongRate, file, 50));
        QVERIFY(!wrongRate.wasQuick());
        QCOMPARE(wrongRate.packets().count(), frames);
    }

    void testAFileThatNeverAnswers()
    {
        const QString fifo = m_dir.filePath(QStringLiteral("fifo.ts"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        PacketScan s;
        s.setQuietLimit(500);
        QElapsedTimer t;
        t.start();
        QVERIFY(!scan(s, fifo, 25));
        QVERIFY(t.elapsed() < 5000);
        QVERIFY(!s.done() && !s.isRunning());
        QVERIFY(s.packets().empty());
    }

    void testNoFfprobe()
    {
        PacketScan s;
        QSignalSpy done(&s, &PacketScan::finished);
        s.start(QStringLiteral("/nonexistent/ffprobe"), m_dir.filePath(QStringLiteral("x.ts")));
        // Said on a later pass of the event loop, never inside start().
        QCOMPARE(done.size(), 0);
        QVERIFY(done.wait(5000));
        QCOMPARE(done.first().first().toBool(), false);
    }
};

QTEST_MAIN(TestPacketScan)
#include "tst_packetscan.moc"
