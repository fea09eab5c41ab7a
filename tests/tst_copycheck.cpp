// The verdict on a cut copy, judged from what the tools said of stored
// files, without cutting anything.

#include "core/CopyVerdict.h"

#include <QFile>
#include <QTest>

using namespace media;

namespace {

QByteArray probeData(const char *name)
{
    QFile f(QStringLiteral(TRIMLET_TEST_DATA "/probe/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestCopyCheck final : public QObject
{
    Q_OBJECT

private slots:
    void testStreamsVerdict_data()
    {
        QTest::addColumn<QByteArray>("recording");
        QTest::addColumn<QByteArray>("copy");
        QTest::addColumn<int>("cutter");
        QTest::addColumn<bool>("cutAtBothEnds");
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("mencoderProblem");
        const int mencoder = int(Cutter::Mencoder), ffmpeg = int(Cutter::Ffmpeg);
        QTest::newRow("a track lost")
            << QByteArray("two-tracks-ts.json") << QByteArray("two-tracks-ts-lost.json") << ffmpeg << false
            << QStringLiteral("The cut copy is missing sound track 2 (eng, audio description)")
            << QStringLiteral("was missing sound track 2 (eng, audio description)");
        QTest::newRow("no answer on the copy")
            << QByteArray("ps-three.json") << QByteArray() << mencoder << false
            << QStringLiteral("The cut copy could not be read") << QStringLiteral("could not be read");
        // mencoder ends its streams together at a cut, so its ends there
        // are held to that; ffmpeg's concat input switches its streams
        // apart at a cut, so the same ends say nothing of its copy.
        QTest::newRow("mencoder's sound ends early at a cut")
            << QByteArray("ps-three.json") << QByteArray("ps-three-mencoder-cut.json") << mencoder << true
            << QStringLiteral("The cut copy is out of step: sound track 1 ends 0.59 s before its picture "
                              "(where the recording plays both on)")
            << QStringLiteral("was out of step: sound track 1 ends 0.59 s before its picture (where the "
                              "recording plays both on)");
        QTest::newRow("the same ends from ffmpeg")
            << QByteArray("ps-three.json") << QByteArray("ps-three-mencoder-cut.json") << ffmpeg << true
            << QString() << QString();
        // Where nothing was cut at the ends, the recording's own is the
        // measure, whoever cut.
        QTest::newRow("mencoder's sound ends early at the recording's end")
            << QByteArray("ps-three.json") << QByteArray("ps-three-mencoder.json") << mencoder << false
            << QStringLiteral("The cut copy is out of step: sound track 1 ends 0.63 s before its picture "
                              "(in the recording, 0.01 s before it)")
            << QStringLiteral("was out of step: sound track 1 ends 0.63 s before its picture (in the "
                              "recording, 0.01 s before it)");
        QTest::newRow("ffmpeg's copy in step")
            << QByteArray("ps-three.json") << QByteArray("ps-three-ffmpeg.json") << ffmpeg << false
            << QString() << QString();
    }
    void testStreamsVerdict()
    {
        QFETCH(QByteArray, recording);
        QFETCH(QByteArray, copy);
        QFETCH(int, cutter);
        QFETCH(bool, cutAtBothEnds);
        QFETCH(QString, statement);
        QFETCH(QString, mencoderProblem);
        const MediaInfo r = parseProbe(probeData(recording.constData()));
        QVERIFY(r.parsed);
        const std::optional<MediaInfo> c =
            copy.isEmpty() ? std::nullopt : std::optional(parseProbe(probeData(copy.constData())));
        StreamFacts facts;
        facts.recording = &r;
        facts.copy = c ? &*c : nullptr;
        facts.recordingSeconds = 600;
        facts.kept = cutAtBothEnds ? QList<Span>{{10, 200}, {260, 500}} : QList<Span>{{0, 200}, {260, 600}};
        facts.cutter = Cutter(cutter);
        const StreamsJudged judged = judgeStreams(facts);
        QCOMPARE(judged.verdict.kept(), statement.isEmpty());
        if (!statement.isEmpty()) {
            QCOMPARE(judged.verdict.statement(QStringLiteral("cut copy")), statement);
            QCOMPARE(judged.verdict.mencoderProblem, mencoderProblem);
            QVERIFY(!c || !judged.verdict.runLog.isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TestCopyCheck)
#include "tst_copycheck.moc"
