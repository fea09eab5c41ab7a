#pragma once

// trimlet-cli run as a DVR or a script runs it, for the tests of the
// command line: its exit status, its JSON summary and what it said on
// stderr. TRIMLET_CLI is the built trimlet-cli.

#include "TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

struct CliRun
{
    int status = -1; // -1: it did not end by itself in time
    QJsonArray summary;
    QByteArray json;
    QString errors;
    QString state(int index = 0) const { return summary[index][QStringLiteral("state")].toString(); }
    QString message(int index = 0) const { return summary[index][QStringLiteral("message")].toString(); }
};

// The stand-ins first on PATH, where trimlet-cli looks after its own helper
// directories (a build tree has none); mode is their STANDIN_MODE. Qt's own
// diagnostics stay out of the stderr a test reads.
inline QProcessEnvironment withStandIns(const QString &mode = QString())
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), standInTools() + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    if (!mode.isEmpty())
        env.insert(QStringLiteral("STANDIN_MODE"), mode);
    return env;
}

inline void startCli(QProcess &cli, const QStringList &arguments, const QProcessEnvironment &env,
                     const QString &dir)
{
    cli.setProcessEnvironment(env);
    cli.setWorkingDirectory(dir);
    cli.start(QStringLiteral(TRIMLET_CLI), arguments);
}

// program is trimlet-cli, or a shell that runs it with arguments only bytes
// can name.
inline CliRun runProgram(const QString &program, const QStringList &arguments, const QProcessEnvironment &env,
                         const QString &dir, int timeoutMs = 60000)
{
    QProcess cli;
    cli.setProcessEnvironment(env);
    cli.setWorkingDirectory(dir);
    cli.start(program, arguments);
    CliRun run;
    if (!cli.waitForFinished(timeoutMs) || cli.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = cli.exitCode();
    run.json = cli.readAllStandardOutput();
    run.summary = QJsonDocument::fromJson(run.json).array();
    run.errors = QString::fromUtf8(cli.readAllStandardError());
    return run;
}

inline CliRun runCli(const QStringList &arguments, const QProcessEnvironment &env,
                     const QString &dir = QDir::tempPath(), int timeoutMs = 60000)
{
    return runProgram(QStringLiteral(TRIMLET_CLI), arguments, env, dir, timeoutMs);
}
