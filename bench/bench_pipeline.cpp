// Whole-pipeline figures, each measured side by side in one run:
//   output     a tool writing 200 MB of progress lines through the runner,
//              the output monitor and the run log, against `cat` of the
//              same bytes into a file; and the longest event-loop stall.
//   overhead   an automatic run (detect + remove) on a generated recording
//              against the same two command lines run back to back from a
//              shell on a copy of it.
//   startup    launch to the main window shown (offscreen), median of 20.
//   ends       the longest event-loop stall around tools' natural ends (an
//              automatic run of the stand-in tools: detect, cut, check) and
//              around a Stop, median of 10 each.
//   cutters    frames kept against frames expected, for each kind of
//              recording the end-to-end tests make, by mencoder with the
//              contract's vector and by ffmpeg from the same cut list.
//   cut        the removal step (cut + check, the chapters file + check, the
//              skip list) through the window's action on
//              a recording of over 1 GB against `cat` of it to /dev/null, for
//              an MPEG-2 program stream (mencoder) and an H.264 transport
//              stream (ffmpeg); BENCH_COLD=1 starts both from an empty page
//              cache. Beside it, the pass that lists where each of the
//              recording's frames lies (PacketScan, as a chosen recording
//              gets it), against the cut + check.
//   scan       BENCH_FILE=recording: the pass over it three ways (its
//              transport stream's PES headers read directly, ffprobe
//              without and with its parsers) against an ffmpeg stream-copy
//              cut of it with one break, medians of 3, from the page cache.
//   strip      BENCH_FILE=recording, detected beside it (comskip's .txt and
//              .csv; made here when missing): from choosing a break in the
//              chart window's table to the strip of its start edge, and to
//              both strips, shown, each break once, with a fresh window per
//              run (no frame made before), medians over BENCH_RUNS (3)
//              runs. BENCH_SAVE=DIR keeps the frames and the window shown.
//   batch      four MPEG-2 SD recordings of ten minutes (made once into
//              BENCH_CACHE, default ~/.cache/trimlet-bench/batch) detected
//              and cut through the batch queue with two detections at once,
//              against the same four run one after another through the same
//              jobs, with the command line's settings, and against the
//              bare tools' command lines in a shell (two detectors at a
//              time, then the four cuts, by mencoder and, in another run,
//              by ffmpeg's stream copy); medians of BENCH_RUNS (3) rounds
//              taken in turn, and the load average before and after, as
//              other work skews them all.
// Usage: bench_pipeline [output|overhead|startup|ends|cutters|cut|scan|strip|batch]...
//        (default: output, overhead and startup)

#include "app/AppController.h"
#include "app/AppWindows.h"
#include "app/FrameStrip.h"
#include "chart/CommercialTableModel.h"
#include "core/MediaInfo.h"
#include "core/PacketTimes.h"
#include "core/PropertyList.h"
#include "jobs/BatchQueue.h"
#include "jobs/CutJob.h"
#include "jobs/DetectJob.h"
#include "jobs/DetectorSettings.h"
#include "jobs/QueueTally.h"
#include "process/PacketScan.h"
#include "ui_GraphWindow.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>
#include <QProcess>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>
#include <sys/resource.h>
#include <vector>

#ifndef TRIMLET_SOURCE_DIR
#define TRIMLET_SOURCE_DIR "."
#endif

namespace {

QElapsedTimer g_clock;
void quiet(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    if (qEnvironmentVariableIsSet("BENCH_GAPS"))
        std::fprintf(stderr, "%lld %s\n", g_clock.elapsed(), qPrintable(msg));
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void writeFileBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

// A command line as /bin/sh reads it back, each argument quoted.
QString shellLine(const QStringList &args)
{
    QStringList quoted;
    for (const QString &a : args)
        quoted << QLatin1Char('\'') + QString(a).replace(QLatin1Char('\''), QStringLiteral("'\\''"))
                      + QLatin1Char('\'');
    return quoted.join(QLatin1Char(' '));
}

double shellMs(const QString &script)
{
    QElapsedTimer t;
    t.start();
    QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
    return double(t.nsecsElapsed()) / 1e6;
}

// Starts a run from the event loop and runs the loop until the controller
// is idle again; returns the longest gap between two ticks of a 5 ms timer,
// the Start action included.
qint64 runUntilIdle(AppController &c, const std::function<void()> &start)
{
    QEventLoop loop;
    QTimer tick;
    QElapsedTimer clock;
    qint64 last = 0, worst = 0;
    clock.start();
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const qint64 now = clock.elapsed();
        if (now - last > 40 && qEnvironmentVariableIsSet("BENCH_GAPS"))
            std::fprintf(stderr, "stall of %lld ms at %lld ms\n", now - last, last);
        worst = std::max(worst, now - last);
        last = now;
        if (c.processState() == AppController::ProcessState::kStateIdle)
            loop.quit();
    });
    tick.start();
    QTimer::singleShot(0, &loop, start);
    loop.exec();
    return worst;
}

void benchOutput()
{
    QTemporaryDir dir;
    qputenv("STANDIN_MODE", "flood");
    AppController c;
    AppWindows w(c);
    c.endSound().setMuted(true);
    c.awakeFromNib();
    c.toolLocator().setHelperDirectories({QStringLiteral(TRIMLET_SOURCE_DIR "/tests/tools/standins")}, false);
    QFile movie(dir.filePath(QStringLiteral("show.mpg")));
    movie.open(QIODevice::WriteOnly);
    movie.close();
    c.openRecording(movie.fileName());
    std::vector<double> trimlet, cat, stalls;
    const QString flood = QStringLiteral("yes ' 0:00:57 - 1734 frames in 1.00 sec(1734.00 fps), 1.00 "
                                         "sec(1734.00 fps), 15%' | head -c 200000000");
    for (int i = 0; i < 3; ++i) {
        cat.push_back(shellMs(flood + QStringLiteral(" | cat > ") + dir.filePath(QStringLiteral("cat.out"))));
        QElapsedTimer t;
        t.start();
        stalls.push_back(double(runUntilIdle(c, [&] { c.detectStart(); })));
        trimlet.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    qunsetenv("STANDIN_MODE");
    const double logged = double(QFileInfo(dir.filePath(QStringLiteral("TrimletLog.txt"))).size());
    std::printf("output: 200 MB  trimlet_median_ms=%.0f (%.0f MB/s)  cat_median_ms=%.0f  ratio=%.2f  "
                "longest_stall_ms=%.0f  logged_bytes=%.0f\n",
                median(trimlet), 200.0 / (median(trimlet) / 1000.0), median(cat),
                median(trimlet) / median(cat), *std::max_element(stalls.begin(), stalls.end()), logged);
}

void benchOverhead()
{
    QTemporaryDir dir;
    // BENCH_FILE: a recording of one's own (an hour of SD) instead of a
    // made one; BENCH_RUNS: how many runs of each (default 3).
    QString recording = qEnvironmentVariable("BENCH_FILE");
    if (recording.isEmpty()) {
        recording = dir.filePath(QStringLiteral("made.mpg"));
        if (QProcess::execute(QStringLiteral(TRIMLET_SOURCE_DIR "/tests/make_recording.sh"),
                              {recording, QStringLiteral("show:150 ad:60 show:150")})
            != 0) {
            std::printf("overhead: could not make a recording\n");
            return;
        }
    }
    const int runs = qEnvironmentVariableIsSet("BENCH_RUNS") ? qEnvironmentVariableIntValue("BENCH_RUNS") : 3;
    const QString suffix = QLatin1Char('.') + QFileInfo(recording).suffix();
    std::vector<double> trimlet, shell;
    QString outcome;
    for (int i = 0; i < runs; ++i) {
        // The shell: the same two command lines, on a copy, with the ini file
        // the application writes.
        const QString sdir = dir.filePath(QStringLiteral("shell%1").arg(i));
        const QString tdir = dir.filePath(QStringLiteral("trimlet%1").arg(i));
        QDir().mkpath(sdir);
        QDir().mkpath(tdir);
        QFile::copy(recording, sdir + QStringLiteral("/rec") + suffix);
        QFile::copy(recording, tdir + QStringLiteral("/rec") + suffix);

        AppController c;
        AppWindows w(c);
        c.endSound().setMuted(true);
        c.awakeFromNib();
        w.ui().mAutoDetect->setChecked(true);
        w.ui().mAutoRemove->setChecked(true);
        w.ui().mAutoClean->setChecked(false);
        // Same ini for the shell run, written as for its copy.
        c.openRecording(sdir + QStringLiteral("/rec") + suffix);
        c.writeIniFile();
        c.openRecording(tdir + QStringLiteral("/rec") + suffix);
        // As a user does: the recording is chosen, then Run pressed.
        while (c.probingRecording())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        const QStringList detect = c.detectArguments();
        const QStringList remove = c.removeArguments();
        // The same lines, on the shell's copy.
        const auto quote = [](QStringList args, const QString &from, const QString &to) {
            return shellLine(args.replaceInStrings(from, to));
        };
        const QString script = quote(detect, tdir, sdir) + QStringLiteral(" > ") + sdir
                               + QStringLiteral("/out.log 2>&1; ") + quote(remove, tdir, sdir)
                               + QStringLiteral(" >> ") + sdir + QStringLiteral("/out.log 2>&1");
        shell.push_back(shellMs(script));

        QElapsedTimer t;
        t.start();
        runUntilIdle(c, [&] { c.autoStart(); });
        trimlet.push_back(double(t.nsecsElapsed()) / 1e6);
        outcome = c.status();
    }
    std::printf("overhead: detect+remove of %s  trimlet_median_ms=%.0f  shell_median_ms=%.0f  "
                "ratio=%.3f\n  (%s)\n",
                qPrintable(QFileInfo(recording).fileName()), median(trimlet), median(shell),
                median(trimlet) / median(shell), qPrintable(outcome));
}

QByteArray probe(const QString &file, bool count)
{
    QProcess p;
    QStringList args{"-v", "error", "-of", "json", "-show_format", "-show_streams"};
    if (count)
        args << "-count_packets"
             << "-select_streams"
             << "v:0";
    p.start(QStringLiteral("ffprobe"), args << file);
    p.waitForFinished(-1);
    return p.readAllStandardOutput();
}

// Where each video packet of file lies, as the check of a copy reads it.
media::PacketTimes packets(const QString &file)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                        "packet=pts_time,dts_time,flags", "-of", "csv=p=0", file});
    p.waitForFinished(-1);
    media::PacketTimes times;
    media::addPacketLines(times, p.readAllStandardOutput());
    media::finishPackets(times);
    return times;
}

bool makeRecording(const QString &out, const QStringList &options)
{
    return QProcess::execute(QStringLiteral(TRIMLET_SOURCE_DIR "/tests/make_recording.sh"),
                             QStringList(options) << out << QStringLiteral("show:150 ad:60 show:150"))
           == 0;
}

void benchEnds()
{
    QTemporaryDir dir;
    std::vector<double> ends, stops;
    for (int i = 0; i < 10; ++i) {
        AppController c;
        AppWindows w(c);
        c.endSound().setMuted(true);
        c.awakeFromNib();
        c.toolLocator().setHelperDirectories({QStringLiteral(TRIMLET_SOURCE_DIR "/tests/tools/standins")},
                                             false);
        const QString movie = dir.filePath(QStringLiteral("show%1.mpg").arg(i));
        writeFileBytes(movie, QByteArray("recording bytes ").repeated(1000));
        c.openRecording(movie);
        w.ui().mAutoDetect->setChecked(true);
        w.ui().mAutoRemove->setChecked(true);
        ends.push_back(double(runUntilIdle(c, [&] { c.autoStart(); })));
        qputenv("STANDIN_MODE", "wait");
        stops.push_back(double(runUntilIdle(c, [&] {
            c.detectStart();
            QTimer::singleShot(300, &c, [&] { c.detectStop(); });
        })));
        qunsetenv("STANDIN_MODE");
    }
    std::printf(
        "ends: longest event-loop stall  natural_ends_median_ms=%.0f (worst %.0f)  stop_median_ms=%.0f "
        "(worst %.0f)\n",
        median(ends), *std::max_element(ends.begin(), ends.end()), median(stops),
        *std::max_element(stops.begin(), stops.end()));
}

void benchCutters()
{
    QTemporaryDir dir;
    struct Kind
    {
        const char *name;
        QStringList options;
        const char *ext;
    };
    const Kind kinds[] = {
        {"MPEG-2 29.97 PS MP2", {}, "mpg"},
        {"MPEG-2 59.94 PS MP2", {"-r", "60000/1001"}, "mpg"},
        {"MPEG-2 29.97 PS MP2, GOP 15", {"-g", "15"}, "mpg"},
        {"H.264 29.97 TS AAC", {"-v", "h264", "-a", "aac", "-f", "ts"}, "ts"},
        {"H.264 29.97 TS AC-3", {"-v", "h264", "-a", "ac3", "-f", "ts"}, "ts"},
    };
    AppController c;
    AppWindows w(c);
    c.awakeFromNib();
    std::printf("cutters: one 61 s cut (150.5-211.5 s); frames kept / expected\n");
    for (const Kind &k : kinds) {
        const QString rec = dir.filePath(QStringLiteral("rec.") + QLatin1String(k.ext));
        if (!makeRecording(rec, k.options)) {
            std::printf("  %s: could not make it\n", k.name);
            continue;
        }
        const media::MediaInfo info = media::parseProbe(probe(rec, false));
        const media::PacketTimes recording = packets(rec);
        const double seconds = media::clockSeconds(recording, info.videoStart);
        const QList<media::Span> cuts{{150.5, 211.5}};
        const double expected = double(
            recording.count() - media::framesIn(recording, info.videoStart + 150.5, info.videoStart + 211.5));
        writeFileBytes(dir.filePath(QStringLiteral("rec.edl")), "150.5\t211.5\t0\n");
        c.openRecording(rec);
        QString line =
            QStringLiteral("  %1: expected %2").arg(QLatin1String(k.name)).arg(expected, 0, 'f', 0);
        for (media::Cutter cutter : {media::Cutter::Mencoder, media::Cutter::Ffmpeg}) {
            const QString out = dir.filePath(QStringLiteral("out.") + QLatin1String(k.ext));
            QFile::remove(out);
            QStringList args;
            if (cutter == media::Cutter::Mencoder) {
                args = c.removeArguments(out);
            } else {
                const QString list = dir.filePath(QStringLiteral("cut.ffconcat"));
                writeFileBytes(list, media::concatList(rec, media::keptSpans(cuts, info.seconds()),
                                                       info.seconds(), info.videoStart));
                args = CutJob::ffmpegArguments(c.runRequest(false, true, false), list, out,
                                               media::containerFor(info, media::Cutter::Ffmpeg));
                args.insert(args.indexOf(QStringLiteral("-i")), QStringLiteral("-safe"));
                args.insert(args.indexOf(QStringLiteral("-i")), QStringLiteral("0"));
            }
            QProcess p;
            p.setProcessChannelMode(QProcess::MergedChannels);
            p.start(args.first(), args.mid(1));
            p.waitForFinished(-1);
            const media::PacketTimes copy = packets(out);
            const media::Verdict v = media::verifyAgainstRecording(
                recording, info.videoStart, seconds, cuts, copy, info.fps, cutter == media::Cutter::Ffmpeg);
            line += QStringLiteral("; %1 exit %2: %3 (%4 s %5)")
                        .arg(media::cutterName(cutter))
                        .arg(p.exitCode())
                        .arg(copy.count())
                        .arg(qAbs(double(v.frames - v.expectedFrames)) / info.fps, 0, 'f', 2)
                        .arg(v.ok ? QStringLiteral("off, passes") : QStringLiteral("off, fails"));
        }
        std::printf("%s\n", qPrintable(line));
    }
}

// The streams of a file, one "codec language" a stream, as ffprobe lists them.
QString streamList(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            {"-v", "error", "-show_entries", "stream=codec_name,channels:stream_tags=language", "-of",
             "csv=p=0", path});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
        .join(QStringLiteral(" | "));
}

void benchCut()
{
    QTemporaryDir dir;
    struct Kind
    {
        const char *name;
        QStringList options;
        const char *ext;
        const char *muxer;
    };
    const Kind kinds[] = {
        {"MPEG-2 PS", {}, "mpg", "vob"},
        {"H.264 TS", {"-v", "h264", "-a", "aac", "-f", "ts"}, "ts", "mpegts"},
    };
    for (const Kind &k : kinds) {
        const QString small = dir.filePath(QStringLiteral("small.") + QLatin1String(k.ext));
        const QString big = dir.filePath(QStringLiteral("big.") + QLatin1String(k.ext));
        if (!makeRecording(small, k.options))
            continue;
        // Looped without re-encoding to well over a gigabyte.
        const qint64 smallSize = QFileInfo(small).size();
        const int loops = int(1.1e9 / double(smallSize)) + 1;
        QProcess::execute(QStringLiteral("ffmpeg"),
                          {"-nostdin", "-v", "error", "-y", "-stream_loop", QString::number(loops - 1), "-i",
                           small, "-map", "0", "-c", "copy", "-f", QLatin1String(k.muxer), big});
        QFile::remove(small);
        QByteArray edl;
        for (int i = 0; i < 3; ++i)
            edl += QByteArray::number(362.03 * i + 150.5) + '\t' + QByteArray::number(362.03 * i + 211.5)
                   + "\t0\n";
        writeFileBytes(dir.filePath(QStringLiteral("big.edl")), edl);
        // BENCH_COLD=1 (as root) empties the page cache before the cat and
        // before the cut, so both start from the disk.
        const bool cold = qEnvironmentVariableIsSet("BENCH_COLD");
        const auto dropCaches = [cold] {
            if (cold)
                QProcess::execute(
                    QStringLiteral("/bin/sh"),
                    {QStringLiteral("-c"), QStringLiteral("sync; echo 3 > /proc/sys/vm/drop_caches")});
        };
        // Each output: a cut copy, the chapters file, the skip list.
        std::vector<double> trimlet;
        for (const RunRequest::Mode mode :
             {RunRequest::Mode::Cut, RunRequest::Mode::Chapters, RunRequest::Mode::SkipList}) {
            std::vector<double> cat, times;
            for (int i = 0; i < 3; ++i) {
                writeFileBytes(dir.filePath(QStringLiteral("big.edl")), edl);
                dropCaches();
                cat.push_back(shellMs(QStringLiteral("cat '%1' > /dev/null").arg(big)));
                AppController c;
                AppWindows w(c);
                c.endSound().setMuted(true);
                c.awakeFromNib();
                c.setOutputMode(mode);
                c.openRecording(big);
                QEventLoop wait;
                QTimer::singleShot(0, &wait, [&] {
                    while (c.probingRecording())
                        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
                    wait.quit();
                });
                wait.exec();
                const QString out = w.ui().mOutputField->text();
                if (mode != RunRequest::Mode::SkipList)
                    QFile::remove(out);
                dropCaches();
                QElapsedTimer t;
                t.start();
                runUntilIdle(c, [&] { c.removeStart(); });
                times.push_back(double(t.nsecsElapsed()) / 1e6);
                if (i == 2) {
                    std::printf("cut: %s %.2f GB: %s\n", k.name, double(QFileInfo(big).size()) / 1e9,
                                qPrintable(c.status()));
                    std::printf("cut: streams of %s: %s\n", qPrintable(QFileInfo(out).fileName()),
                                qPrintable(streamList(out)));
                }
                if (mode != RunRequest::Mode::SkipList)
                    QFile::remove(out);
            }
            const char *what = mode == RunRequest::Mode::Cut        ? "cut+check"
                               : mode == RunRequest::Mode::Chapters ? "chapters+check"
                                                                    : "skip-list";
            std::printf("cut: %s  %s_median_ms=%.0f  cat_median_ms=%.0f  ratio=%.2f\n", k.name, what,
                        median(times), median(cat), median(times) / median(cat));
            if (mode == RunRequest::Mode::Cut)
                trimlet = times;
        }
        std::vector<double> pass;
        bool quick = false;
        qint64 frames = 0;
        for (int i = 0; i < 3; ++i) {
            dropCaches();
            PacketScan scan;
            QEventLoop wait;
            QObject::connect(&scan, &PacketScan::finished, &wait, &QEventLoop::quit);
            QElapsedTimer t;
            t.start();
            const media::MediaInfo info = media::parseProbe(probe(big, false));
            const bool ts = info.formatName == QLatin1String("mpegts");
            scan.start(QStringLiteral("/usr/bin/ffprobe"), big, ts ? info.fps : 0.0, ts ? info.videoPid : -1);
            wait.exec();
            pass.push_back(double(t.nsecsElapsed()) / 1e6);
            quick = scan.wasQuick();
            frames = scan.packets().count();
        }
        std::printf("scan: %s  recording_pass_median_ms=%.0f (%s, %lld frames)  of cut+check=%.2f\n", k.name,
                    median(pass), quick ? "without the parsers" : "parsed", static_cast<long long>(frames),
                    median(pass) / median(trimlet));
        QFile::remove(big);
    }
}

void benchScan()
{
    const QString file = qEnvironmentVariable("BENCH_FILE");
    if (file.isEmpty() || !QFileInfo(file).isFile()) {
        std::printf("scan: set BENCH_FILE to a recording\n");
        return;
    }
    const media::MediaInfo info = media::parseProbe(probe(file, false));
    const auto pass = [&](double fps, int pid, bool &quick, qint64 &frames) {
        std::vector<double> ms;
        for (int i = 0; i < 3; ++i) {
            PacketScan scan;
            QEventLoop wait;
            QObject::connect(&scan, &PacketScan::finished, &wait, &QEventLoop::quit);
            QElapsedTimer t;
            t.start();
            scan.start(QStringLiteral("/usr/bin/ffprobe"), file, fps, pid);
            wait.exec();
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
            quick = scan.wasQuick();
            frames = scan.packets().count();
        }
        return median(ms);
    };
    QTemporaryDir dir;
    const QString list = dir.filePath(QStringLiteral("cut.ffconcat"));
    const double seconds = info.seconds();
    writeFileBytes(list, media::concatList(file, media::keptSpans({{seconds / 3, seconds / 3 + 60}}, seconds),
                                           seconds, info.videoStart));
    std::vector<double> cut;
    for (int i = 0; i < 3; ++i)
        cut.push_back(shellMs(QStringLiteral("ffmpeg -nostdin -v error -y -safe 0 -f concat -i '%1' -map 0:v "
                                             "-map '0:a?' -c copy -f %2 '%3'")
                                  .arg(list,
                                       info.formatName == QLatin1String("mpegts") ? QStringLiteral("mpegts")
                                                                                  : QStringLiteral("mpeg"),
                                       dir.filePath(QStringLiteral("out")))));
    std::printf("scan: %s, %.2f GB, cut_median_ms=%.0f\n", qPrintable(QFileInfo(file).fileName()),
                double(QFileInfo(file).size()) / 1e9, median(cut));
    struct Way
    {
        const char *name;
        double fps;
        int pid;
    };
    const Way ways[] = {{"PES headers read directly", info.fps, info.videoPid},
                        {"ffprobe without its parsers", info.fps, -1},
                        {"ffprobe with its parsers", 0, -1}};
    for (const Way &w : ways) {
        bool quick = false;
        qint64 frames = 0;
        const double ms = pass(w.fps, w.pid, quick, frames);
        std::printf("  %-28s %6.0f ms  %lld frames%s  of the cut=%.2f\n", w.name, ms,
                    static_cast<long long>(frames), w.fps > 0 && !quick ? " (fell back to the parsers)" : "",
                    ms / median(cut));
    }
}

int startupChild(int argc, char **argv)
{
    QApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    AppController controller;
    AppWindows windows(controller);
    controller.awakeFromNib();
    windows.mainWindow()->show();
    // Shown: the window is exposed and has been painted once.
    QTimer::singleShot(0, &app, [&] {
        if (windows.mainWindow()->windowHandle() && windows.mainWindow()->windowHandle()->isExposed())
            QCoreApplication::exit(0);
        else
            QTimer::singleShot(1, &app, [] { QCoreApplication::exit(0); });
    });
    return QApplication::exec();
}

void benchStartup(const char *self)
{
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer t;
        t.start();
        QProcess::execute(QString::fromLocal8Bit(self), {QStringLiteral("--startup-child")});
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("startup: launch to main window shown, median of 20 = %.0f ms (min %.0f, max %.0f)\n",
                median(ms), *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()));
}

bool stripShown(const FrameStrip *strip)
{
    if (strip->panels().isEmpty())
        return false;
    for (int k = 0; k < strip->panels().size(); ++k)
        if (strip->picture(k).isNull())
            return false;
    return true;
}

void benchStrip()
{
    const QString recording = qEnvironmentVariable("BENCH_FILE");
    const QFileInfo info(recording);
    if (!info.exists()) {
        std::printf("strip: BENCH_FILE names no recording\n");
        return;
    }
    const QString base = info.path() + QLatin1Char('/') + info.completeBaseName();
    if (!QFile::exists(base + QStringLiteral(".csv")) || !QFile::exists(base + QStringLiteral(".edl"))) {
        // comskip's own defaults, with the cut list the window reads.
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("bench.ini"));
        QFile file(ini);
        if (!file.open(QIODevice::WriteOnly) || file.write("output_edl=1\n") < 0)
            return;
        file.close();
        QProcess::execute(QStringLiteral("comskip"),
                          {QStringLiteral("--csvout"), QStringLiteral("--ini=") + ini, recording});
    }
    const int runs = qEnvironmentVariableIsSet("BENCH_RUNS") ? qEnvironmentVariableIntValue("BENCH_RUNS") : 3;
    const QString save = qEnvironmentVariable("BENCH_SAVE");
    std::vector<double> current, both;
    for (int i = 0; i < runs; ++i) {
        AppController c;
        AppWindows w(c);
        c.endSound().setMuted(true);
        c.awakeFromNib();
        c.openRecording(recording);
        while (c.probingRecording())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        c.graphAction();
        Ui::GraphWindow &g = w.graphUi();
        QAbstractItemModel *model = g.mCommercialTable->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            QElapsedTimer t;
            t.start();
            g.mCommercialTable->setCurrentIndex(model->index(row, 1));
            double first = -1;
            while (t.elapsed() < 20000 && !(stripShown(g.startStrip) && stripShown(g.endStrip))) {
                QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
                if (first < 0 && stripShown(g.startStrip))
                    first = double(t.nsecsElapsed()) / 1e6;
            }
            current.push_back(first);
            both.push_back(double(t.nsecsElapsed()) / 1e6);
            if (!save.isEmpty() && i == 0) {
                w.graphWindow()->show();
                w.graphWindow()->grab().save(QStringLiteral("%1/break%2-window.png").arg(save).arg(row));
                for (int k = 0; k < g.startStrip->panels().size(); ++k) {
                    g.startStrip->picture(k).save(
                        QStringLiteral("%1/break%2-start%3.png").arg(save).arg(row).arg(k));
                    g.endStrip->picture(k).save(
                        QStringLiteral("%1/break%2-end%3.png").arg(save).arg(row).arg(k));
                }
            }
        }
    }
    if (current.empty()) {
        std::printf("strip: %s: no break was found to review\n", qPrintable(info.fileName()));
        return;
    }
    std::printf(
        "strip: %s, %zu selections: start edge's strip in %.0f ms (median; worst %.0f), both strips in "
        "%.0f ms (median; worst %.0f)\n",
        qPrintable(info.fileName()), current.size(), median(current),
        *std::max_element(current.begin(), current.end()), median(both),
        *std::max_element(both.begin(), both.end()));
}

// One batch to its end; false when a recording in it did not end done.
bool runBatch(const QList<RunRequest> &requests, int detections, QString &problem)
{
    BatchQueue queue;
    queue.setDetectionSlots(detections);
    for (const RunRequest &r : requests)
        queue.add(r);
    QEventLoop loop;
    QObject::connect(&queue, &BatchQueue::finished, &loop, &QEventLoop::quit);
    queue.start();
    loop.exec();
    for (const int i : queue.ids())
        if (queue.entry(i).state != BatchQueue::State::Done || queue.entry(i).outcome.copy.isEmpty()) {
            problem = queue.entry(i).request.recording + QStringLiteral(": ") + queue.entry(i).outcome.text;
            return false;
        }
    return true;
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(QLatin1Char(' '), 0, 2)
                                       : QStringLiteral("?");
}

void benchBatch()
{
    const QString cache = qEnvironmentVariableIsSet("BENCH_CACHE")
                              ? qEnvironmentVariable("BENCH_CACHE")
                              : QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
                                    + QStringLiteral("/trimlet-bench/batch");
    QDir().mkpath(cache);
    QStringList recordings;
    for (int i = 1; i <= 4; ++i) {
        const QString path = QStringLiteral("%1/rec%2.mpg").arg(cache).arg(i);
        if (!QFileInfo::exists(path)) {
            // 604 s: shows long enough for comskip to take them as shows.
            const QString made = QStringLiteral("%1/rec%2.tmp.mpg").arg(cache).arg(i);
            if (QProcess::execute(QStringLiteral(TRIMLET_SOURCE_DIR "/tests/make_recording.sh"),
                                  {made, QStringLiteral("show:180 ad:60 show:180 ad:60 show:120")})
                    != 0
                || !QFile::rename(made, path)) {
                std::printf("batch: could not make %s\n", qPrintable(path));
                return;
            }
        }
        recordings << path;
    }
    RunRequest base;
    base.detectorSettings =
        withDetectorOptions(mergeSettingGroups(readPropertyList(QStringLiteral(
                                TRIMLET_SOURCE_DIR "/resources/settings/detectionSettings.plist"))),
                            DetectorOptions::asShipped());
    base.noSkip = kNoSkipAsShipped;
    base.edlSeek = kEdlSeekAsShipped;
    base.detect = base.remove = base.erase = true;
    for (QString *tool : {&base.tools.comskip, &base.tools.mencoder, &base.tools.ffmpeg, &base.tools.ffprobe})
        *tool = QStandardPaths::findExecutable(*tool);
    // Each run on links to the recordings in a fresh folder, where its work
    // files and copies go.
    const auto requestsIn = [&](const QString &dir) {
        QList<RunRequest> requests;
        for (const QString &r : recordings) {
            RunRequest request = base;
            request.recording = dir + QLatin1Char('/') + QFileInfo(r).fileName();
            QFile::link(r, request.recording);
            requests << request;
        }
        return requests;
    };
    // The bare tools: the command lines the window would run for each,
    // with the ini file the queue writes for detections side by side, two
    // detectors at a time as the queue runs them, then the cuts one after
    // another: with mencoder (the copies Trimlet refuses here as 2 s
    // short) or with ffmpeg's stream copy from the same list, as a script
    // would turn comskip's EDL into ffmpeg's concat list (the copies
    // Trimlet keeps).
    const auto bareScript = [&](const QString &dir, bool ffmpegCuts) {
        AppController c;
        c.endSound().setMuted(true);
        c.awakeFromNib();
        RunOptions options;
        static_cast<DetectorOptions &>(options) = DetectorOptions::asShipped();
        options.noSkip = kNoSkipAsShipped;
        options.edlSeek = kEdlSeekAsShipped;
        c.setRunOptions(options);
        const QByteArray ini =
            DetectJob::iniText(QueueTally::withSharedCores(c.detectorSettings(), 2)).value_or(QByteArray());
        QStringList detect, cut;
        const auto quoted = [](const QStringList &args) {
            return shellLine(args) + QStringLiteral(" >/dev/null 2>&1");
        };
        for (const QString &r : recordings) {
            const QString link = dir + QLatin1Char('/') + QFileInfo(r).fileName();
            QFile::link(r, link);
            c.openRecording(link);
            while (c.probingRecording())
                QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
            const QString base = link.chopped(4);
            // The settings go where the detector's arguments say they are.
            const QStringList detectArguments = c.detectArguments();
            for (const QString &a : detectArguments)
                if (a.startsWith(QLatin1String("--ini=")))
                    writeFileBytes(a.mid(6), ini);
            detect << quoted(detectArguments);
            if (!ffmpegCuts) {
                cut << quoted(c.removeArguments());
                continue;
            }
            const QString list = base + QStringLiteral(".ffconcat");
            cut << QStringLiteral("awk -v f=%1 'BEGIN { print \"ffconcat version 1.0\"; s = 0 } "
                                  "{ printf \"file %s\\ninpoint %s\\noutpoint %s\\n\", f, s, $1; s = $2 } "
                                  "END { printf \"file %s\\ninpoint %s\\n\", f, s }' %2 > %3")
                       .arg(shellLine({QFileInfo(link).fileName()}),
                            shellLine({base + QStringLiteral(".edl")}), shellLine({list}))
                << quoted({QStringLiteral("ffmpeg"), QStringLiteral("-nostdin"), QStringLiteral("-y"),
                           QStringLiteral("-f"), QStringLiteral("concat"), QStringLiteral("-safe"),
                           QStringLiteral("0"), QStringLiteral("-i"), list, QStringLiteral("-map"),
                           QStringLiteral("0"), QStringLiteral("-c"), QStringLiteral("copy"),
                           QStringLiteral("-f"), QStringLiteral("mpeg"),
                           base + QStringLiteral(".clean.mpg")});
        }
        return QStringLiteral("{ %1; %2; } & { %3; %4; } & wait; %5")
            .arg(detect[0], detect[2], detect[1], detect[3], cut.join(QStringLiteral("; ")));
    };
    // BENCH_RUNS rounds (default 3), taken in turn, the order turned every
    // round, so that the load of other work falls on each alike; medians
    // of each.
    const int runs = qEnvironmentVariableIsSet("BENCH_RUNS") ? qEnvironmentVariableIntValue("BENCH_RUNS") : 3;
    const QString loadBefore = loadAverage();
    std::vector<double> serialTimes, parallelTimes, bareTimes, bareFfmpegTimes;
    // The tools' processor time beside the wall time: on a machine that
    // others load, a batch gets fewer cores than it could use.
    double serialCpu = 0, parallelCpu = 0;
    const auto childCpu = [] {
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
               + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    for (int run = 0; run < runs; ++run) {
        for (int fourth = 0; fourth < 4; ++fourth) {
            const int kind = (run + fourth) % 4;
            if (kind >= 2) {
                QTemporaryDir dir(cache + QStringLiteral("/bare-XXXXXX"));
                const QString script = bareScript(dir.path(), kind == 3);
                (kind == 3 ? bareFfmpegTimes : bareTimes).push_back(shellMs(script) / 1000.0);
                if (QFileInfo(dir.filePath(QStringLiteral("rec4.clean.mpg"))).size() < 1000000) {
                    std::printf("batch: the bare tools made no copy of rec4.mpg\n");
                    return;
                }
                continue;
            }
            const bool parallel = kind == 1;
            QTemporaryDir dir(cache + QStringLiteral("/run-XXXXXX"));
            const QList<RunRequest> requests = requestsIn(dir.path());
            QString problem;
            QElapsedTimer clock;
            clock.start();
            const double cpuBefore = childCpu();
            bool ok = true;
            if (parallel)
                ok = runBatch(requests, 2, problem);
            else
                for (const RunRequest &r : requests)
                    ok = ok && runBatch({r}, 1, problem);
            if (!ok) {
                std::printf("batch: %s failed: %s\n", parallel ? "two at once" : "one after another",
                            qPrintable(problem));
                return;
            }
            (parallel ? parallelTimes : serialTimes).push_back(clock.elapsed() / 1000.0);
            (parallel ? parallelCpu : serialCpu) += childCpu() - cpuBefore;
        }
    }
    QStringList each;
    for (int i = 0; i < runs; ++i)
        each << QStringLiteral("%1/%2")
                    .arg(serialTimes[size_t(i)], 0, 'f', 1)
                    .arg(parallelTimes[size_t(i)], 0, 'f', 1);
    std::printf("batch: 4 x 604 s MPEG-2 352x240, %d runs  one_after_another_median_s=%.1f  "
                "two_detections_at_once_median_s=%.1f  speedup=%.2f (goal 1.60)  bare_tools_median_s=%.1f  "
                "queue_against_bare_tools=%.3f (goal 1.02)  bare_tools_ffmpeg_cuts_median_s=%.1f  "
                "queue_against_bare_ffmpeg=%.3f  each_s=%s  "
                "cores_used=%.2f/%.2f  cores=%d  load_before=%s  load_after=%s\n",
                runs, median(serialTimes), median(parallelTimes), median(serialTimes) / median(parallelTimes),
                median(bareTimes), median(parallelTimes) / median(bareTimes), median(bareFfmpegTimes),
                median(parallelTimes) / median(bareFfmpegTimes), qPrintable(each.join(QLatin1Char(' '))),
                serialCpu / std::accumulate(serialTimes.begin(), serialTimes.end(), 0.0),
                parallelCpu / std::accumulate(parallelTimes.begin(), parallelTimes.end(), 0.0),
                QThread::idealThreadCount(), qPrintable(loadBefore), qPrintable(loadAverage()));
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    g_clock.start();
    if (argc > 1 && qstrcmp(argv[1], "--startup-child") == 0)
        return startupChild(argc, argv);
    QStringList which;
    for (int i = 1; i < argc; ++i)
        which << QString::fromLocal8Bit(argv[i]);
    if (which.isEmpty())
        which = QStringList{QStringLiteral("output"), QStringLiteral("overhead"), QStringLiteral("startup")};
    QApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    if (which.contains(QStringLiteral("output")))
        benchOutput();
    if (which.contains(QStringLiteral("overhead")))
        benchOverhead();
    if (which.contains(QStringLiteral("startup")))
        benchStartup(argv[0]);
    if (which.contains(QStringLiteral("ends")))
        benchEnds();
    if (which.contains(QStringLiteral("cutters")))
        benchCutters();
    if (which.contains(QStringLiteral("cut")))
        benchCut();
    if (which.contains(QStringLiteral("scan")))
        benchScan();
    if (which.contains(QStringLiteral("strip")))
        benchStrip();
    if (which.contains(QStringLiteral("batch")))
        benchBatch();
    return 0;
}
