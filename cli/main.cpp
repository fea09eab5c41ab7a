// trimlet-cli: the window's detect, cut and erase for recordings named on
// the command line, for a DVR's post-processing or a script. It runs the
// same requests through the same jobs, with the window's default settings.

#include "Report.h"

#include "core/PropertyList.h"
#include "jobs/BatchQueue.h"
#include "jobs/DetectorSettings.h"
#include "jobs/FolderWatch.h"
#include "jobs/Profiles.h"
#include "jobs/RawNames.h"
#include "jobs/RequestBuilder.h"
#include "process/SignalWatcher.h"
#include "process/ToolLocator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kExitStatuses[] = "Exit status:\n"
                             "  0    every copy was made and checked (with --detect-only: every\n"
                             "       detection succeeded); a recording with no break found is not\n"
                             "       copied, and counts as done\n"
                             "  1    at least one recording failed; the others were still run\n"
                             "  2    bad usage: an unknown option or a missing value; no recording;\n"
                             "       --output with more than one recording, or with --output-dir;\n"
                             "       --output-dir not a folder; --detect-only with --output,\n"
                             "       --output-dir or --use-existing-detection; a --mode other than\n"
                             "       cut, chapters or skip-list; --mode skip-list with --output or\n"
                             "       --output-dir; --detections not a number of 1 or more;\n"
                             "       --progress with --quiet; --replace with --detect-only, a\n"
                             "       --mode other than cut, --output, --output-dir,\n"
                             "       --keep-work-files or --use-existing-detection; --keep-original\n"
                             "       without --replace, or not a folder; --profile with --channel;\n"
                             "       a profile named (or named for the channel) that is missing or\n"
                             "       not key=value lines; a channels.conf that cannot be read;\n"
                             "       --watch with a RECORDING or --output, or not a folder, or with\n"
                             "       no place for its record; --settle without --watch or not a\n"
                             "       number of 1 or more\n"
                             "  130  stopped by Ctrl-C (SIGINT); 143 by SIGTERM, 129 by SIGHUP: the\n"
                             "       tools were stopped and no partial copy is left (--watch ends only\n"
                             "       so)";

int usageError(const QString &text)
{
    std::fprintf(stderr, "trimlet-cli: %s\nTry 'trimlet-cli --help' for more information.\n",
                 qPrintable(text));
    return kExitUsage;
}

// rawInput and standIn: the bytes and the stand-in of a name that is not
// UTF-8, or empty and null. Written from the outcome's facts; nothing is
// read back from its words.
QJsonObject summary(const BatchQueue::Entry &e, const QByteArray &rawInput, const rawnames::StandIn *standIn)
{
    const Outcome &o = e.outcome;
    const bool made = !o.copy.isEmpty();
    const QString copy = standIn && made ? standIn->copyMade() : o.copy;
    return QJsonObject{
        {QStringLiteral("input"), rawInput.isEmpty() ? QFileInfo(e.request.recording).absoluteFilePath()
                                                     : rawnames::escaped(rawInput)},
        {QStringLiteral("state"), BatchQueue::stateName(e.state)},
        {QStringLiteral("output"), made ? QJsonValue(copy) : QJsonValue()},
        {QStringLiteral("cutter"), made && !o.cutter.isEmpty() ? QJsonValue(o.cutter) : QJsonValue()},
        {QStringLiteral("kept_seconds"), made ? qRound(o.keptSeconds * 1000) / 1000.0 : 0.0},
        {QStringLiteral("breaks_found"), o.breaksFound},
        {QStringLiteral("breaks_cut"), made ? o.breaksCut : 0},
        {QStringLiteral("detection"),
         e.existingDetection ? QStringLiteral("existing") : QStringLiteral("comskip")},
        {QStringLiteral("message"), standIn ? standIn->shownText(o.text) : o.text},
    };
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("trimlet-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TRIMLET_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Removes the commercials from recorded TV programmes: comskip finds the breaks, and a\n"
            "copy without them is written and checked frame by frame before it takes its name\n"
            "(by default BASE.clean.EXT beside the recording). The recording is never changed,\n"
            "but with --replace, where the checked copy takes its name and it goes to the trash.\n\n")
        + QLatin1String(kExitStatuses));
    parser.addPositionalArgument(QStringLiteral("RECORDING"), QStringLiteral("The recordings to run."),
                                 QStringLiteral("RECORDING..."));
    const QCommandLineOption detectOnly(QStringLiteral("detect-only"),
                                        QStringLiteral("Find the breaks only; make no copy."));
    const QCommandLineOption output(QStringLiteral("output"),
                                    QStringLiteral("Write the copy to FILE (one recording only)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption outputDir(QStringLiteral("output-dir"),
                                       QStringLiteral("Write the copies into DIR instead of beside the "
                                                      "recordings."),
                                       QStringLiteral("DIR"));
    const QCommandLineOption keep(QStringLiteral("keep-work-files"),
                                  QStringLiteral("Keep the detector's files and the run log (by default "
                                                 "they are erased once the copy is checked)."));
    const QCommandLineOption existing(
        QStringLiteral("use-existing-detection"),
        QStringLiteral("Take BASE.txt and BASE.edl beside a recording, from an earlier comskip run, "
                       "without running comskip."));
    const QCommandLineOption json(
        QStringLiteral("json"), QStringLiteral("Print a summary on stdout: one JSON object per recording."));
    const QCommandLineOption detections(
        QStringLiteral("detections"),
        QStringLiteral("Run at most N detections at once (default: one a core, %1 here).")
            .arg(BatchQueue::defaultDetectionSlots({})),
        QStringLiteral("N"));
    const QCommandLineOption mode(
        QStringLiteral("mode"),
        QStringLiteral(
            "What to leave: cut (a copy without the breaks, BASE.clean.EXT; the default), chapters "
            "(the whole recording in Matroska with a chapter at each break, BASE.chapters.mkv) or "
            "skip-list (the recording as it is, the breaks in BASE.edl beside it for Kodi to skip)."),
        QStringLiteral("MODE"), QStringLiteral("cut"));
    const QCommandLineOption overwrite(
        QStringLiteral("overwrite"),
        QStringLiteral("Replace a file under the copy's name that Trimlet did not make from the same "
                       "recording (by default such a file is kept and its recording fails)."));
    const QCommandLineOption progress(
        QStringLiteral("progress"),
        QStringLiteral("Tell each recording's progress and messages on stderr even where it is not a "
                       "terminal (by default only then; elsewhere one line per recording as it ends)."));
    const QCommandLineOption quiet(QStringLiteral("quiet"),
                                   QStringLiteral("Tell on stderr only the recordings that failed or "
                                                  "were stopped."));
    const QCommandLineOption replace(
        QStringLiteral("replace"),
        QStringLiteral("Put the checked copy in the recording's place, under its exact name, and the "
                       "recording in the trash of its disk (cut mode only; the copy must be in the "
                       "recording's container and on its file system, or both are kept)."));
    const QCommandLineOption keepOriginal(
        QStringLiteral("keep-original"),
        QStringLiteral("With --replace, move the recording into DIR (on its file system) instead of "
                       "the trash."),
        QStringLiteral("DIR"));
    const QCommandLineOption profile(
        QStringLiteral("profile"),
        QStringLiteral("Lay the detector settings of profile NAME over the defaults: NAME.ini in "
                       "$XDG_CONFIG_HOME/trimlet/profiles, else /etc/trimlet/profiles."),
        QStringLiteral("NAME"));
    const QCommandLineOption channel(
        QStringLiteral("channel"),
        QStringLiteral("Use the profile that channels.conf (beside those folders) names for channel NAME; "
                       "the defaults when it names none."),
        QStringLiteral("NAME"));
    const QCommandLineOption watch(
        QStringLiteral("watch"),
        QStringLiteral("Run each new recording under DIR (and its subfolders) once it has stopped growing, "
                       "until stopped by SIGTERM or Ctrl-C; may be given more than once."),
        QStringLiteral("DIR"));
    const QCommandLineOption settle(
        QStringLiteral("settle"),
        QStringLiteral("With --watch, a recording is run once it has not grown for SECONDS (default 60)."),
        QStringLiteral("SECONDS"), QStringLiteral("60"));
    const QCommandLineOption cutter(
        QStringLiteral("cutter"),
        QStringLiteral(
            "frame-exact (the default: ffmpeg copies the whole groups of pictures and encodes again "
            "only those between an edge and its key frame), key-frame (mencoder where it can copy "
            "the recording, else ffmpeg's stream copy, each from key frame to key frame) or "
            "mencoder (key frame to key frame; a copy of its that is refused is cut again "
            "frame-exactly)."),
        QStringLiteral("CUTTER"), QStringLiteral("frame-exact"));
    parser.addOptions({detectOnly, output, outputDir, keep, existing, json, detections, mode, progress, quiet,
                       replace, keepOriginal, profile, channel, watch, settle, overwrite, cutter});
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(help))
        parser.showHelp(EXIT_SUCCESS);
    if (parser.isSet(version))
        parser.showVersion();
    const QStringList recordings = parser.positionalArguments();
    const QStringList watched = parser.values(watch);
    if (recordings.isEmpty() && watched.isEmpty())
        return usageError(QStringLiteral("no recording named"));
    if (!watched.isEmpty() && (!recordings.isEmpty() || parser.isSet(output)))
        return usageError(
            QStringLiteral("--watch finds its recordings itself: it takes no RECORDING or --output"));
    for (const QString &folder : watched)
        if (!QFileInfo(folder).isDir())
            return usageError(QStringLiteral("--watch %1 is not a folder").arg(folder));
    bool whole = true;
    const int settleSeconds = parser.value(settle).toInt(&whole);
    if (parser.isSet(settle) && (watched.isEmpty() || !whole || settleSeconds < 1))
        return usageError(
            QStringLiteral("--settle goes with --watch, and takes a number of seconds of 1 or more"));
    if (parser.isSet(output) && recordings.size() > 1)
        return usageError(QStringLiteral("--output names the copy of one recording only; use --output-dir"));
    if (parser.isSet(output) && parser.isSet(outputDir))
        return usageError(QStringLiteral("--output and --output-dir cannot both be given"));
    if (parser.isSet(detectOnly) && (parser.isSet(output) || parser.isSet(outputDir)))
        return usageError(
            QStringLiteral("--detect-only makes no copy, so it takes no --output or --output-dir"));
    if (parser.isSet(detectOnly) && parser.isSet(existing))
        return usageError(QStringLiteral("--use-existing-detection has nothing to do with --detect-only"));
    if (parser.isSet(outputDir) && !QFileInfo(parser.value(outputDir)).isDir())
        return usageError(QStringLiteral("--output-dir %1 is not a folder").arg(parser.value(outputDir)));
    const QStringList cutters{QStringLiteral("key-frame"), QStringLiteral("frame-exact"),
                              QStringLiteral("mencoder")};
    if (!cutters.contains(parser.value(cutter)))
        return usageError(QStringLiteral("--cutter takes key-frame, frame-exact or mencoder, not %1")
                              .arg(parser.value(cutter)));
    const QStringList modes{QStringLiteral("cut"), QStringLiteral("chapters"), QStringLiteral("skip-list")};
    const qsizetype modeIndex = modes.indexOf(parser.value(mode));
    if (modeIndex < 0)
        return usageError(
            QStringLiteral("--mode takes cut, chapters or skip-list, not %1").arg(parser.value(mode)));
    // A player finds a skip list only under the recording's own name.
    if (modeIndex == 2 && (parser.isSet(output) || parser.isSet(outputDir)))
        return usageError(
            QStringLiteral("--mode skip-list writes BASE.edl beside the recording, so it takes no "
                           "--output or --output-dir"));
    if (parser.isSet(replace)
        && (modeIndex != 0 || parser.isSet(detectOnly) || parser.isSet(output) || parser.isSet(outputDir)))
        return usageError(
            QStringLiteral("--replace puts a cut copy in its recording's place: it takes "
                           "no --detect-only, --mode other than cut, --output or --output-dir"));
    // The lists beside it would tell a player of breaks in the recording
    // gone to the trash, at the wrong places in the copy.
    if (parser.isSet(replace) && (parser.isSet(keep) || parser.isSet(existing)))
        return usageError(QStringLiteral("--replace would leave BASE.edl describing the recording, not "
                                         "the copy in its place: it takes no --keep-work-files or "
                                         "--use-existing-detection"));
    if (parser.isSet(keepOriginal) && !parser.isSet(replace))
        return usageError(QStringLiteral("--keep-original goes with --replace"));
    if (parser.isSet(keepOriginal) && !QFileInfo(parser.value(keepOriginal)).isDir())
        return usageError(
            QStringLiteral("--keep-original %1 is not a folder").arg(parser.value(keepOriginal)));
    // Found now, not after an hour's detection and cut.
    if (parser.isSet(keepOriginal)
        && ::access(QFile::encodeName(parser.value(keepOriginal)).constData(), W_OK | X_OK) != 0)
        return usageError(
            QStringLiteral("--keep-original %1 cannot be written to").arg(parser.value(keepOriginal)));
    if (parser.isSet(profile) && parser.isSet(channel))
        return usageError(QStringLiteral("--profile and --channel cannot both be given"));
    if (parser.isSet(progress) && parser.isSet(quiet))
        return usageError(QStringLiteral("--progress and --quiet cannot both be given"));
    bool numeric = true;
    const int detectionCount = parser.value(detections).toInt(&numeric);
    if (parser.isSet(detections) && (!numeric || detectionCount < 1))
        return usageError(QStringLiteral("--detections takes a number of 1 or more"));

    // The window's own settings resource, overlaid with its boxes as shipped.
    const QString resource = QStringLiteral(":/settings/detectionSettings.plist");
    if (!QFile::exists(resource)) {
        std::fprintf(stderr, "trimlet-cli: its detector settings resource is missing.\n");
        return kExitFailed;
    }
    QVariantMap settings =
        withDetectorOptions(mergeSettingGroups(readPropertyList(resource)), DetectorOptions::asShipped());
    QString profileName;
    if (parser.isSet(profile) || parser.isSet(channel)) {
        QString why;
        std::optional<QString> name = parser.value(profile);
        if (parser.isSet(channel) && !(name = profiles::forChannel(parser.value(channel), &why)))
            return usageError(why);
        if (!name->isEmpty() || parser.isSet(profile)) {
            const std::optional<profiles::Profile> chosen = profiles::find(*name, &why);
            if (!chosen)
                return usageError(why);
            settings = profiles::overlaid(settings, chosen->settings);
            profileName = chosen->name;
        }
    }
    const bool remove = !parser.isSet(detectOnly);
    RequestBuilder builder;
    // Erasing after a detection alone would erase what was asked for.
    builder.steps(true, remove, remove && !parser.isSet(keep))
        .mode(RunRequest::Mode(modeIndex))
        .detectorSettings(settings, profileName)
        .cutterOptions(kNoSkipAsShipped, kEdlSeekAsShipped, parser.value(cutter) == QLatin1String("mencoder"),
                       parser.value(cutter) == QLatin1String("frame-exact"))
        .replaceRecording(parser.isSet(replace), parser.value(keepOriginal))
        .toolsFrom(ToolLocator());
    // A copy named here is named from the caller's folder, as any file
    // named on a command line is.
    const QString outputAsked =
        parser.isSet(output) ? QFileInfo(parser.value(output)).absoluteFilePath() : QString();
    const RunRequest base = builder.build(QString());

    // The names as the command line gave them, byte for byte: where Qt's
    // text of one does not give its bytes back (they are not UTF-8), no
    // tool could be handed that file under its name.
    std::map<QString, std::vector<QByteArray>> unnamable;
    for (int i = argc - 1; i >= 1; --i) {
        const QByteArray raw(argv[i]);
        if (QFile::encodeName(QFile::decodeName(raw)) != raw)
            unnamable[QFile::decodeName(raw)].push_back(raw);
    }
    QByteArray cwd = QFile::encodeName(QDir::currentPath());
    if (!cwd.endsWith('/'))
        cwd += '/';

    BatchQueue queue;
    queue.setReplaceOthers(parser.isSet(overwrite), QStringLiteral(" Give --overwrite to replace it."));
    queue.setDetectionSlots(
        parser.isSet(detections) ? detectionCount : BatchQueue::defaultDetectionSlots(base.detectorSettings));
    // A recording whose name is not UTF-8 runs under a stand-in name; once
    // it ends, what it made takes the recording's own bytes, before the
    // report tells of it.
    std::map<int, std::unique_ptr<rawnames::StandIn>> standIns;
    std::map<int, QString> notCarriedOut;
    QObject::connect(&queue, &BatchQueue::stateChanged, &queue, [&](int index, BatchQueue::State state) {
        const auto s = standIns.find(index);
        if (s == standIns.end()
            || !(state == BatchQueue::State::Done || state == BatchQueue::State::Failed
                 || state == BatchQueue::State::Stopped))
            return;
        QString why;
        if (!s->second->finish(queue.entry(index).outcome.copy, parser.isSet(overwrite), &why)) {
            notCarriedOut[index] = why.trimmed();
            std::fprintf(stderr, "trimlet-cli: %s\n", qPrintable(why.trimmed()));
        }
    });
    // A DVR logs every line on stderr as an error: progress only for eyes.
    const Report::Mode reportMode = parser.isSet(quiet)       ? Report::Mode::Errors
                                    : ::isatty(STDERR_FILENO) ? Report::Mode::Bar
                                    : parser.isSet(progress)  ? Report::Mode::ProgressLines
                                                              : Report::Mode::Outcomes;
    Report report(queue, reportMode);
    std::unique_ptr<FolderWatch> folderWatch;
    // A watched folder's recordings the queue has let go of, as they ended:
    // the summary tells of them all the same.
    std::map<int, BatchQueue::Entry> letGo;
    if (!watched.isEmpty()) {
        QString why;
        const QString record = FolderWatch::defaultRecordFile(&why);
        if (record.isEmpty())
            return usageError(QStringLiteral("--watch: ") + why);
        folderWatch = std::make_unique<FolderWatch>(watched, settleSeconds * 1000, record);
        // Copies and originals put there are not new recordings.
        folderWatch->setIgnored({parser.value(outputDir), base.keepOriginal});
        QObject::connect(folderWatch.get(), &FolderWatch::settled, &queue, [&](const QString &path) {
            queue.add(builder.build(path), parser.isSet(existing), parser.value(outputDir));
            queue.start();
        });
        QObject::connect(
            &queue, &BatchQueue::stateChanged, folderWatch.get(), [&](int index, BatchQueue::State state) {
                const BatchQueue::Entry &e = queue.entry(index);
                if (state == BatchQueue::State::Stopped
                    || (state == BatchQueue::State::Failed
                        && folderWatch->changedSinceTold(e.request.recording)))
                    folderWatch->released(e.request.recording);
                else if (state == BatchQueue::State::Done || state == BatchQueue::State::Failed) {
                    if (!folderWatch->finished(e.request.recording))
                        std::fprintf(stderr,
                                     "trimlet-cli: the record of what was run could not be "
                                     "written: %s may be run again.\n",
                                     qPrintable(e.request.recording));
                } else
                    return;
                // Out of the queue, so that a recording made
                // again under that name is not refused as
                // already in it.
                QMetaObject::invokeMethod(
                    &queue,
                    [&queue, &letGo, index] {
                        const BatchQueue::Entry ended = queue.entry(index);
                        if (queue.remove(index))
                            letGo.emplace(index, ended);
                    },
                    Qt::QueuedConnection);
            });
        if (!folderWatch->start(&why))
            return usageError(QStringLiteral("--watch: ") + why);
    }
    std::map<int, QByteArray> rawInputs;
    for (const QString &path : recordings) {
        const RunRequest request = builder.build(QFileInfo(path).absoluteFilePath(), outputAsked);
        const auto found = unnamable.find(path);
        if (found != unnamable.end() && !found->second.empty()) {
            QByteArray raw = found->second.back();
            found->second.pop_back();
            const QString shown = rawnames::shown(raw.mid(raw.lastIndexOf('/') + 1));
            if (!raw.startsWith('/'))
                raw.prepend(cwd);
            rawInputs[queue.nextId()] = raw;
            report.setShownName(queue.nextId(), shown);
            QString why;
            std::unique_ptr<rawnames::StandIn> standIn;
            if (request.replace)
                why = QStringLiteral("its copy cannot take such a name in its place");
            else
                standIn = rawnames::StandIn::make(raw, &why);
            if (!standIn) {
                queue.addRefused(request, rawnames::cannotRun(raw.mid(raw.lastIndexOf('/') + 1), why),
                                 parser.isSet(existing));
                continue;
            }
            RunRequest standing = request;
            standing.recording = standIn->recording();
            const rawnames::StandIn *shownBy = standIn.get();
            report.setTextFilter(queue.nextId(),
                                 [shownBy](const QString &text) { return shownBy->shownText(text); });
            standIns[queue.nextId()] = std::move(standIn);
            queue.add(standing, parser.isSet(existing), parser.value(outputDir));
            continue;
        }
        queue.add(request, parser.isSet(existing), parser.value(outputDir));
    }

    int signalled = 0;
    SignalWatcher signalWatcher({SIGINT, SIGTERM, SIGHUP});
    QObject::connect(&signalWatcher, &SignalWatcher::received, &queue, [&](int signalNumber) {
        if (signalled)
            return;
        signalled = signalNumber;
        report.say(QStringLiteral("Stopping: the tools are stopped and no partial copy is kept…"));
        if (folderWatch)
            folderWatch->stop();
        if (queue.isRunning())
            queue.stop();
        else if (folderWatch)
            // Idle between recordings: nothing to stop, and no end to wait for.
            QMetaObject::invokeMethod(&queue, &BatchQueue::finished, Qt::QueuedConnection);
    });
    QObject::connect(&queue, &BatchQueue::finished, &app, [&] {
        // A watched folder's queue is idle between recordings.
        if (folderWatch && !signalled)
            return;
        int status = EXIT_SUCCESS;
        QJsonArray all;
        std::map<int, BatchQueue::Entry> ended = letGo;
        for (const int i : queue.ids())
            ended.emplace(i, queue.entry(i));
        for (const auto &[i, e] : ended) {
            if (e.state != BatchQueue::State::Done || notCarriedOut.count(i))
                status = kExitFailed;
            const auto raw = rawInputs.find(i);
            const auto standIn = standIns.find(i);
            QJsonObject one = summary(e, raw == rawInputs.end() ? QByteArray() : raw->second,
                                      standIn == standIns.end() ? nullptr : standIn->second.get());
            if (notCarriedOut.count(i))
                one.insert(QStringLiteral("message"), e.outcome.text + QLatin1Char(' ') + notCarriedOut[i]);
            all.append(one);
            // Unwatched, each was told as it ended.
            if (report.watched())
                report.sayOutcome(i, e);
        }
        report.close();
        if (parser.isSet(json))
            std::fputs(QJsonDocument(all).toJson(QJsonDocument::Indented).constData(), stdout);
        QCoreApplication::exit(signalled ? 128 + signalled : status);
    });
    if (!folderWatch)
        queue.start();
    return QCoreApplication::exec();
}
