#include "jobs/DetectJob.h"

#include "core/AtomicWrite.h"
#include "core/Diagnostics.h"
#include "core/ResultParsers.h"
#include "jobs/Recording.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>

namespace {

QString plainText(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    default:
        return value.toString();
    }
}

} // namespace

QString asOperand(const QString &path)
{
    return path.startsWith(QLatin1Char('-')) ? QStringLiteral("./") + path : path;
}

DetectJob::DetectJob(const RunRequest &request, QObject *parent)
    : Job(parent),
      m_request(request),
      m_files(request.outDir(), request.baseName(), {request.recording, request.output})
{ }

QStringList DetectJob::arguments(const RunRequest &request)
{
    return {request.tools.comskip, QStringLiteral("--csvout"),
            QStringLiteral("--ini=") + WorkFiles(request.outDir(), request.baseName()).iniPath(),
            asOperand(request.recording)};
}

std::optional<QByteArray> DetectJob::iniText(const QVariantMap &settings)
{
    logLine(QString::asprintf("writeIniFile: detectMethod=%d",
                              settings.value(QStringLiteral("detect_method")).toInt()));
    QString text;
    text.reserve(int(settings.size()) * 20);
    for (auto it = settings.cbegin(); it != settings.cend(); ++it) {
        if (it.value().typeId() == QMetaType::QString && it.value().toString().isEmpty()) {
            logLine(QStringLiteral("writeIniFile: Skipping key ") + it.key());
            continue;
        }
        text += it.key() + QLatin1Char('=') + plainText(it.value()) + QLatin1Char('\n');
    }
    for (QChar c : std::as_const(text))
        if (c.unicode() > 0x7f)
            return std::nullopt;
    return text.toLatin1();
}

void DetectJob::start()
{
    setRunning();
    if (!m_request.profile.isEmpty())
        emit logged(QStringLiteral("profile ") + m_request.profile);
    // A BASE.ini of the user's is theirs to keep: ours goes elsewhere.
    const QString ini = m_files.iniPath();
    if (const std::optional<QByteArray> text = iniText(m_request.detectorSettings))
        if (writeAtomically(ini, *text))
            m_files.record({QFileInfo(ini).fileName()});
    m_setAside = m_files.setAsideLists();
    m_files.markDetecting();
    emit message(QStringLiteral("Detecting commercials…"));
    runTool(arguments(m_request));
}

void DetectJob::toolOutput(const QString &chunk)
{
    readProgress(chunk);
}

// Why lists comskip says it finished are no result; empty when they are.
// Read before anything set aside comes back: the space they would free is
// the evidence of a full disk.
QString DetectJob::listsRefusal() const
{
    const Recording recording(m_request.recording);
    bool opened = false;
    const QByteArray frames = recording.read(QStringLiteral("txt"), &opened);
    bool edlOpened = false;
    const QByteArray edl = recording.read(QStringLiteral("edl"), &edlOpened);
    const bool whole = opened && results::frameListComplete(frames)
                       && (!edlOpened || results::countEdlEntries(edl).has_value());
    if (whole)
        return QString();
    // comskip writes its lists as it ends: on a full disk they stay empty
    // or stop part way, and it still says it succeeded.
    const QStorageInfo disk(m_request.outDir());
    if (disk.isValid() && disk.bytesAvailable() < kFullDiskBytes)
        return QStringLiteral("The disk is full: comskip's lists are incomplete.");
    return opened ? QStringLiteral("comskip's lists are incomplete.")
                  : QStringLiteral("comskip ended without writing its lists.");
}

void DetectJob::toolEnded(int rc, bool stopped, bool launchFailed)
{
    bool success = !stopped && !launchFailed && (rc == -1 || rc == 0 || rc == 1);
    const QString refusal = success ? listsRefusal() : QString();
    success = success && refusal.isEmpty();
    m_files.settle(m_setAside, success);
    m_setAside.clear();
    if (stopped) {
        finish(Status::Stopped, QStringLiteral("Detection stopped."));
        return;
    }
    if (launchFailed) {
        finish(Status::Failed, QStringLiteral("Could not start %1. Is it installed?")
                                   .arg(QFileInfo(m_request.tools.comskip).fileName()));
        return;
    }
    if (!refusal.isEmpty()) {
        emit logged(
            QStringLiteral("comskip exited %1 with lists that are no result: %2").arg(rc).arg(refusal));
        finish(Status::Failed, refusal);
        return;
    }
    if (success) {
        const std::optional<int> count = Recording(m_request.recording).cutListCount();
        m_found = count.value_or(0);
        finish(Status::Succeeded,
               count ? QString::asprintf("Found %d commercial%s.", m_found, m_found == 1 ? "" : "s")
                     : QStringLiteral("Commercials not yet detected."));
        return;
    }
    QString text;
    if (rc == 3 || rc == 5)
        text = QStringLiteral("Bad MPEG file.");
    else if (rc == 6 || rc == 7 || rc == 103)
        text = QStringLiteral("Error creating output files.");
    else if (rc >= 10 && rc <= 22)
        text = QStringLiteral("Error allocating memory");
    else if (rc == 255)
        // What comskip says of a file it cannot make sense of: no line, 255.
        text = QStringLiteral("comskip could not read this recording.");
    else
        text = QString::asprintf("Unexpected error %d.", rc);
    finish(Status::Failed, text);
}
