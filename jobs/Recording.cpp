#include "jobs/Recording.h"

#include "core/BreakList.h"
#include "core/Diagnostics.h"
#include "core/PathText.h"
#include "jobs/DetectJob.h"
#include "jobs/RawNames.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <new>
#include <unistd.h>

namespace {

// The longest name, in bytes, the file system under folder takes.
qsizetype nameMax(const QString &folder)
{
    const long max = ::pathconf(
        QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder).constData(), _PC_NAME_MAX);
    return max > 0 ? qsizetype(max) : 255;
}

qsizetype bytesOf(const QString &name)
{
    return QFile::encodeName(name).size();
}

// Trimlet's hidden staging name for a file it writes whole (".NAME.trimlet-XXXXXX").
QString stagingName(const QString &name)
{
    return QLatin1Char('.') + name + QStringLiteral(".trimlet-XXXXXX");
}

} // namespace

Recording::Recording(const QString &path)
    : m_path(path),
      m_outDir(pathtext::deletingLastComponent(path)),
      m_baseName(pathtext::deletingExtension(pathtext::lastComponent(path)))
{ }

QString Recording::workFile(const QString &extension) const
{
    return m_outDir + QLatin1Char('/') + m_baseName + QLatin1Char('.') + extension;
}

QByteArray Recording::read(const QString &extension, bool *opened) const
{
    QFile file(workFile(extension));
    const bool ok = !m_baseName.isEmpty() && file.open(QIODevice::ReadOnly);
    if (opened)
        *opened = ok;
    return ok ? file.readAll() : QByteArray();
}

QString Recording::detectionRefusal() const
{
    static const QStringList kWorkExtensions{QStringLiteral("txt"), QStringLiteral("edl"),
                                             QStringLiteral("csv"), QStringLiteral("log"),
                                             QStringLiteral("ini")};
    const QFileInfo info(m_path);
    if (kWorkExtensions.contains(info.suffix()))
        return QStringLiteral("%1 cannot be detected: comskip would write its results over it.")
            .arg(info.fileName());
    // comskip is handed the path as given, and names its results from it.
    const qsizetype stem = bytesOf(pathtext::deletingExtension(asOperand(m_path)));
    if (stem > kComskipStemMax)
        return QStringLiteral("The recording's name is too long for comskip: its path without the "
                              "extension has %1 bytes, and comskip takes at most %2. Shorten the name "
                              "or move it to a shorter folder.")
            .arg(stem)
            .arg(kComskipStemMax);
    return workFileNameRefusal();
}

QString Recording::workFileNameRefusal() const
{
    if (m_baseName.isEmpty())
        return QString();
    // Every name a run makes beside the recording from its stem: the
    // lists (the longest is BASE.detected.edl), their hidden staging names
    // and set-aside names, the record of what the run wrote and its own
    // staging name, the detector's own ini where the user keeps a BASE.ini
    // and its staging name, and the user's lists kept beside under a name
    // of their own while the detector's take theirs.
    const QString longest = m_baseName + QStringLiteral(".detected.edl");
    const QString manifest = QLatin1Char('.') + m_baseName + QStringLiteral(".trimlet-files");
    const QString ini = QLatin1Char('.') + m_baseName + QStringLiteral(".trimlet-ini");
    const QStringList names{longest,
                            stagingName(longest),
                            QLatin1Char('.') + longest + QStringLiteral(".trimlet-aside"),
                            manifest,
                            stagingName(manifest),
                            ini,
                            stagingName(ini),
                            m_baseName + QStringLiteral(".before-trimlet.detected.edl")};
    const qsizetype max = nameMax(m_outDir);
    qsizetype over = 0;
    for (const QString &name : names)
        over = std::max(over, bytesOf(name) - max);
    if (over <= 0)
        return QString();
    return QStringLiteral("The recording's name is too long for this file system: its work files' names "
                          "would not fit (a name takes at most %1 bytes). Shorten it by %2 bytes.")
        .arg(max)
        .arg(over);
}

QString Recording::copyNameRefusal(const QString &output)
{
    const QString name = pathtext::lastComponent(output);
    const qsizetype max = nameMax(pathtext::deletingLastComponent(output));
    // The cutter writes ".NAME.trimlet-XXXXXX"; were that refused, no
    // cutter may be handed the copy's own name instead.
    const qsizetype over = bytesOf(stagingName(name)) - max;
    if (over <= 0)
        return QString();
    return QStringLiteral("The copy's name is too long for this file system. Shorten it by %1 bytes "
                          "(a name takes at most %2 bytes, and its hidden partial copy's %3 more).")
        .arg(over)
        .arg(max)
        .arg(bytesOf(stagingName(name)) - bytesOf(name));
}

QString Recording::proposedOutput(const QString &extension, RunRequest::Mode mode) const
{
    // A skip list is found by a player under the stem it strips itself.
    const QString base = mode == RunRequest::Mode::SkipList ? pathtext::deletingExtension(m_path)
                                                            : pathtext::deletingRecordingExtension(m_path);
    switch (mode) {
    case RunRequest::Mode::Chapters:
        return base + QStringLiteral(".chapters.mkv");
    case RunRequest::Mode::SkipList:
        return base + QStringLiteral(".edl");
    case RunRequest::Mode::Cut:
        break;
    }
    return base + QStringLiteral(".clean.") + extension;
}

std::optional<results::FrameList> Recording::frameList() const
{
    bool opened = false;
    results::FrameList frames = results::parseFrameList(read(QStringLiteral("txt"), &opened));
    if (!opened || !frames.found)
        return std::nullopt;
    bool detectedOpened = false;
    const results::FrameList detected =
        results::parseFrameList(read(QStringLiteral("detected.txt"), &detectedOpened));
    if (detectedOpened && detected.found)
        frames.commercials = breaks::merged(frames.commercials, detected.commercials);
    return frames;
}

std::optional<int> Recording::cutListCount() const
{
    bool opened = false;
    const QByteArray text = read(QStringLiteral("edl"), &opened);
    return opened ? results::countEdlEntries(text) : std::nullopt;
}

bool Recording::haveTable() const
{
    const QFileInfo csv(workFile(QStringLiteral("csv")));
    return !m_baseName.isEmpty() && csv.exists() && csv.size() > 0;
}

bool Recording::haveDetection() const
{
    // By the bytes: a name that is not UTF-8 comes as rawnames::escaped() text.
    return rawnames::exists(workFile(QStringLiteral("txt")))
           && rawnames::exists(workFile(QStringLiteral("edl")));
}

Recording::ChartLoad Recording::readChart(int points, float chunkSize, int totalRows, Chart &chart) const
{
    chart = Chart();
    // Opened by its real name, whatever characters the recording's name has.
    FILE *file = std::fopen(QFile::encodeName(workFile(QStringLiteral("csv"))).constData(), "rb");
    if (!file)
        return ChartLoad::NoTable;
    chart.chunkSize = chunkSize;
    if (points <= 0) {
        std::fclose(file);
        return ChartLoad::NoData;
    }
    try {
        chart.values.assign(size_t(points) * results::kMaxDataCols, 0);
    } catch (const std::bad_alloc &) {
        std::fclose(file);
        return ChartLoad::NoMemory;
    }
    const results::CsvFold fold =
        results::foldCsv(file, chart.values.data(), points, chart.ranges.data(), chunkSize, totalRows);
    std::fclose(file);
    chart.headerRead = fold.headerRead;
    if (fold.headerRead)
        chart.labels = fold.labels;
    chart.pointCount = fold.pointsStored;
    for (int k = 0; k < fold.valuesInLastRow; ++k)
        logLine(QStringLiteral("readCSVData: Column=%1/%2 range: %3 to %4")
                    .arg(k)
                    .arg(chart.labels.value(k))
                    .arg(chart.ranges[size_t(2 * k)])
                    .arg(chart.ranges[size_t(2 * k + 1)]));
    return ChartLoad::Loaded;
}

review::EdgeMarks Recording::edgeMarks() const
{
    return review::parseEdgeMarks(read(QStringLiteral("csv")));
}

bool Recording::haveEditedList() const
{
    return !m_baseName.isEmpty() && QFileInfo::exists(workFile(QStringLiteral("detected.txt")));
}

CommercialList Recording::detectedCommercials() const
{
    return results::parseFrameList(
               read(haveEditedList() ? QStringLiteral("detected.txt") : QStringLiteral("txt")))
        .commercials;
}

QString Recording::breaksSummary() const
{
    if (!haveEditedList())
        return QString();
    const std::optional<results::FrameList> frames = frameList();
    if (!frames)
        return QString();
    const CommercialList detected = detectedCommercials();
    return QStringLiteral("%1 of %2 detected breaks, %3 edited")
        .arg(breaks::cutCount(frames->commercials))
        .arg(detected.size())
        .arg(breaks::editedCount(frames->commercials, detected));
}
