// A recording's work files with the jobs layer alone, on real files: what
// erasing may take, and the lists set aside while the detector runs.

#include "jobs/CutterCommand.h"
#include "jobs/WorkFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

void put(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace

class TestWorkFiles final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_count = 0;
    QString fresh()
    {
        const QString dir = m_root.filePath(QString::number(++m_count));
        QDir().mkpath(dir);
        return dir;
    }

private slots:
    void testEraseTakesOnlyWhatWasRecorded()
    {
        const QString dir = fresh();
        const QString movie = dir + QStringLiteral("/show.mpg");
        put(movie, "recording");
        put(dir + QStringLiteral("/show.txt"), "the user's notes");
        const WorkFiles files(dir, QStringLiteral("show"), {movie});
        QVERIFY(!files.any());
        put(files.path(QStringLiteral("ini")), "ini");
        put(files.path(QStringLiteral("edl")), "edl");
        // A manifest naming the recording, or a place outside the folder,
        // is not obeyed.
        files.record({QStringLiteral("show.ini"), QStringLiteral("show.edl"), QStringLiteral("show.mpg"),
                      QStringLiteral("../elsewhere")});
        files.record({QStringLiteral("show.ini")});
        QCOMPARE(files.made().count(QStringLiteral("show.ini")), 1);
        QVERIFY(!files.made().contains(QStringLiteral("../elsewhere")));
        put(dir + QStringLiteral("/.show.txt.trimlet-AbC123"), "a staged write");
        put(dir + QStringLiteral("/.show.txt.trimlet-toolong"), "somebody else's");
        QVERIFY(files.any());
        files.erase();
        QCOMPARE(filesIn(dir), (QStringList{QStringLiteral(".show.txt.trimlet-toolong"),
                                            QStringLiteral("show.mpg"), QStringLiteral("show.txt")}));
        QVERIFY(!files.any());
    }

    // A manifest is obeyed only where this user's run wrote it, and only
    // for this recording's own work files, whatever else it names.
    void testManifestOfAnotherIsNotObeyed_data()
    {
        QTest::addColumn<QByteArray>("manifest");
        QTest::addColumn<int>("owner"); // -1: this user
        QTest::addColumn<QStringList>("erased");
        const QStringList ours{QStringLiteral("show.edl")};
        QTest::newRow("an earlier version's") << QByteArray("show.edl\nfamily.mpg\n") << -1 << ours;
        QTest::newRow("another user's id inside")
            << QByteArray(R"({"uid":4242,"made":["show.edl"]})") << -1 << QStringList();
        QTest::newRow("another user's file")
            << QByteArray(R"({"uid":0,"made":["show.edl"]})") << 4242 << QStringList();
    }
    void testManifestOfAnotherIsNotObeyed()
    {
        QFETCH(QByteArray, manifest);
        QFETCH(int, owner);
        QFETCH(QStringList, erased);
        if (owner >= 0 && ::geteuid() != 0)
            QSKIP("giving a file to another user needs root");
        const QString dir = fresh();
        const WorkFiles files(dir, QStringLiteral("show"));
        put(files.path(QStringLiteral("edl")), "a list");
        put(dir + QStringLiteral("/family.mpg"), "the family's");
        put(files.manifestPath(),
            manifest.replace("\"uid\":0", "\"uid\":" + QByteArray::number(::geteuid())));
        if (owner >= 0)
            QCOMPARE(::chown(QFile::encodeName(files.manifestPath()).constData(), uid_t(owner), gid_t(-1)),
                     0);
        files.erase();
        QStringList left{QStringLiteral("family.mpg"), QStringLiteral("show.edl")};
        for (const QString &name : erased)
            left.removeAll(name);
        QCOMPARE(filesIn(dir).filter(QRegularExpression(QStringLiteral("^[^.]"))), left);
    }

    void testHiddenNamesAreNotPatterns()
    {
        const QString dir = fresh();
        put(dir + QStringLiteral("/.Show [HD].ts.trimlet-AbC123"), "ours");
        put(dir + QStringLiteral("/.Show H.ts.trimlet-AbC123"), "another recording's");
        QCOMPARE(hiddenNamesOf(dir, {QStringLiteral("Show [HD].ts")}),
                 QStringList{dir + QStringLiteral("/.Show [HD].ts.trimlet-AbC123")});
    }

    void testListsSetAsideAndSettled_data()
    {
        QTest::addColumn<bool>("detected");
        QTest::newRow("the detection failed") << false;
        QTest::newRow("the detection succeeded") << true;
    }
    void testListsSetAsideAndSettled()
    {
        QFETCH(bool, detected);
        const QString dir = fresh();
        const WorkFiles files(dir, QStringLiteral("show"));
        put(files.path(QStringLiteral("txt")), "old list");
        put(files.path(QStringLiteral("detected.txt")), "the detector's own list");
        put(files.path(QStringLiteral("log")), "the user's log");
        put(files.path(QStringLiteral("csv")), "the user's table");
        files.record({QStringLiteral("show.txt"), QStringLiteral("show.detected.txt")});
        const QList<WorkFiles::SetAside> aside = files.setAsideLists();
        QCOMPARE(aside.size(), 4);
        QVERIFY(!QFile::exists(files.path(QStringLiteral("txt"))));
        // The detector writes its list, its EDL and its log, but no table.
        put(files.path(QStringLiteral("txt")), "new list");
        put(files.path(QStringLiteral("edl")), "new edl");
        put(files.path(QStringLiteral("log")), "comskip's log");
        files.settle(aside, detected);
        QCOMPARE(bytesOf(files.path(QStringLiteral("txt"))), detected ? "new list" : "old list");
        QCOMPARE(bytesOf(files.path(QStringLiteral("edl"))), detected ? "new edl" : "(none)");
        QCOMPARE(bytesOf(files.path(QStringLiteral("detected.txt"))),
                 detected ? "(none)" : "the detector's own list");
        QCOMPARE(bytesOf(files.path(QStringLiteral("log"))), "the user's log");
        QCOMPARE(bytesOf(files.path(QStringLiteral("csv"))), "the user's table");
        QCOMPARE(files.made().contains(QStringLiteral("show.edl")), detected);
        QVERIFY(!files.made().contains(QStringLiteral("show.log")));
        QVERIFY(!files.made().contains(QStringLiteral("show.csv")));
        QCOMPARE(filesIn(dir).filter(QStringLiteral("trimlet-aside")), QStringList());
    }

    void testListsOfAKilledRunComeBack_data()
    {
        QTest::addColumn<int>("owner"); // of the list set aside; -1: this user
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("set aside by this user's run") << -1 << QByteArray("the list");
        // Planted under the aside name, it would take the list's place; the
        // half list is the killed detection's own.
        QTest::newRow("planted by another user") << 4242 << QByteArray("(none)");
    }
    void testListsOfAKilledRunComeBack()
    {
        QFETCH(int, owner);
        QFETCH(QByteArray, after);
        if (owner >= 0 && ::geteuid() != 0)
            QSKIP("giving a file to another user needs root");
        const QString dir = fresh();
        const WorkFiles files(dir, QStringLiteral("show"));
        put(files.path(QStringLiteral("edl")), "the list");
        const QList<WorkFiles::SetAside> aside = files.setAsideLists();
        QCOMPARE(aside.size(), 1);
        files.markDetecting();
        // Trimlet dies here; comskip left half a list, and an empty frame
        // list where the user kept none: both its own, to go.
        put(files.path(QStringLiteral("edl")), "half");
        put(files.path(QStringLiteral("txt")), "");
        if (owner >= 0)
            QCOMPARE(::chown(QFile::encodeName(aside.first().aside).constData(), uid_t(owner), gid_t(-1)), 0);
        files.restoreSetAside();
        QCOMPARE(bytesOf(files.path(QStringLiteral("edl"))), after);
        QVERIFY(!QFile::exists(files.path(QStringLiteral("txt"))));
        // The manifest, and the list or the planted aside.
        QCOMPARE(filesIn(dir).size(), 2);
    }

    // A cut killed outright leaves its pieces in the temporary folder; the
    // next cut takes away those whose owner is gone, and nothing else.
    void testPiecesOfAKilledCutGo()
    {
        const QString tmp = fresh();
        const auto folder = [&](const QString &name) {
            QDir(tmp).mkdir(name);
            put(tmp + QLatin1Char('/') + name + QStringLiteral("/v0.ts"), "a piece");
            return tmp + QLatin1Char('/') + name;
        };
        // A lock this process holds, then given to a process that has ended.
        QProcess ended;
        ended.start(QStringLiteral("true"), {});
        QVERIFY(ended.waitForStarted());
        const qint64 gone = ended.processId();
        QVERIFY(ended.waitForFinished());
        const auto lockOf = [&](const QString &dir, bool alive) {
            auto lock = std::make_unique<QLockFile>(dir + QStringLiteral("/owner.lock"));
            if (!lock->tryLock(0))
                return std::unique_ptr<QLockFile>();
            if (alive)
                return lock;
            QFile file(dir + QStringLiteral("/owner.lock"));
            if (!file.open(QIODevice::ReadOnly))
                return std::unique_ptr<QLockFile>();
            QByteArray text = file.readAll();
            file.close();
            text = QByteArray::number(gone) + text.mid(text.indexOf('\n'));
            // Left on disk, as a killed process leaves it.
            lock->unlock();
            put(dir + QStringLiteral("/owner.lock"), text);
            return std::unique_ptr<QLockFile>();
        };
        const QString killed = folder(QStringLiteral("trimlet-cut-killed"));
        lockOf(killed, false);
        const QString running = folder(QStringLiteral("trimlet-cut-running"));
        const auto held = lockOf(running, true);
        QVERIFY(held);
        const QString unlocked = folder(QStringLiteral("trimlet-cut-unlocked"));
        const QString other = folder(QStringLiteral("someone-else"));
        lockOf(other, false);
        const QString upper = folder(QStringLiteral("TRIMLET-CUT-upper"));
        lockOf(upper, false);
        // A FIFO in the lock's place would hold the sweep at its open.
        const QString fifo = folder(QStringLiteral("trimlet-cut-fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo + QStringLiteral("/owner.lock")).constData(), 0600), 0);

        QCOMPARE(CutterCommand::removeAbandoned(tmp), 1);
        QVERIFY(!QFileInfo::exists(killed));
        for (const QString &kept : {running, unlocked, other, upper, fifo})
            QVERIFY2(QFile::exists(kept + QStringLiteral("/v0.ts")), qPrintable(kept));
    }
};

QTEST_MAIN(TestWorkFiles)
#include "tst_workfiles.moc"
