// trimlet-cli as a DVR box runs it: unwatched, from a post-processing hook or
// a watched folder, with the stand-in tools.

#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>

namespace {

struct CliRun
{
    int status = -1;
    QJsonArray summary;
    QString errors;
};

QProcessEnvironment withStandIns()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), standInTools() + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    return env;
}

CliRun runCli(const QStringList &arguments, const QProcessEnvironment &env, const QString &dir)
{
    QProcess cli;
    cli.setProcessEnvironment(env);
    cli.setWorkingDirectory(dir);
    cli.start(QStringLiteral(TRIMLET_CLI), arguments);
    CliRun run;
    if (!cli.waitForFinished(60000) || cli.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = cli.exitCode();
    run.summary = QJsonDocument::fromJson(cli.readAllStandardOutput()).array();
    run.errors = QString::fromUtf8(cli.readAllStandardError());
    return run;
}

const QByteArray kRecording = QByteArray("recording bytes ").repeated(1000);

} // namespace

class TestCliDvr final : public QObject
{
    Q_OBJECT

private slots:
    // tvheadend logs each line on stderr as an error: a run that went well
    // says one line, and with --quiet none; a failure is still told.
    void testQuietWhereNobodyWatches()
    {
        QTemporaryDir dir;
        const QString movie = dir.filePath(QStringLiteral("show.mpg"));
        writeFile(movie, kRecording);
        const CliRun run = runCli({QStringLiteral("--json"), movie}, withStandIns(), dir.path());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.errors, QStringLiteral("show.mpg: done: %1\n").arg(dir.filePath(QStringLiteral("show.clean.mpg"))));
        QCOMPARE(run.summary.size(), 1);

        const CliRun quiet = runCli({QStringLiteral("--quiet"), QStringLiteral("missing.mpg"), movie},
                                    withStandIns(), dir.path());
        QCOMPARE(quiet.status, 1);
        QCOMPARE(quiet.errors, QStringLiteral("missing.mpg: failed: missing.mpg cannot be found.\n"));
    }
};

QTEST_MAIN(TestCliDvr)
#include "tst_cli_dvr.moc"
