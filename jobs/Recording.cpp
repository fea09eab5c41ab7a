#include "jobs/Recording.h"

#include "core/BreakList.h"
#include "core/Diagnostics.h"
#include "core/PathText.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <new>

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
    return kWorkExtensions.contains(info.suffix())
               ? QStringLiteral("%1 cannot be detected: comskip would write its results over it.")
                     .arg(info.fileName())
               : QString();
}

QString Recording::proposedOutput(const QString &extension, RunRequest::Mode mode) const
{
    const QString base = pathtext::deletingExtension(m_path);
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
    return QFileInfo::exists(workFile(QStringLiteral("txt")))
           && QFileInfo::exists(workFile(QStringLiteral("edl")));
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
