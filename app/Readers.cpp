// Readers of the detector's result files: frame list, EDL and per-frame
// table. The parsing itself is in ResultParsers; here it meets the fields,
// flags and status line.

#include "app/AppController.h"

#include "chart/VideoGraph.h"
#include "core/BreakList.h"
#include "core/Diagnostics.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>

#include <cstdio>
#include <cstdlib>

QByteArray AppController::readWorkFile(const QString &extension, bool *opened) const
{
    QFile file(workFile(extension));
    const bool ok = file.open(QIODevice::ReadOnly);
    if (opened)
        *opened = ok;
    return ok ? file.readAll() : QByteArray();
}

int AppController::readTXTData()
{
    m_totalRows = 0;
    m_fps = 0.0f;
    bool opened = false;
    const QByteArray text = readWorkFile(QStringLiteral("txt"), &opened);
    if (!m_commercials)
        m_commercials = std::make_shared<CommercialList>();

    int result = 0;
    const results::FrameList frames = results::parseFrameList(text);
    if (!opened || !frames.found) {
        logLine(QStringLiteral("readTXTData: TXT file is missing."));
        setStatus(QStringLiteral("Commercials not yet detected."));
        result = 1;
    } else {
        m_totalRows = frames.totalRows;
        m_fps = frames.fps;
        logLine(QString::asprintf("readTXTData: rows=%d, fps=%f", m_totalRows, double(m_fps)));
        // Refilled in place: the chart holds this very list. Where the
        // user edited the detector's list, its own breaks that are not cut
        // show beside the approved ones.
        bool detectedOpened = false;
        const results::FrameList detected =
            results::parseFrameList(readWorkFile(QStringLiteral("detected.txt"), &detectedOpened));
        *m_commercials = detectedOpened && detected.found
                             ? breaks::merged(frames.commercials, detected.commercials)
                             : frames.commercials;
    }
    const results::Sampling sampling = results::samplingFor(m_totalRows);
    m_pointCount = sampling.pointCount;
    m_chunkSize = sampling.chunkSize;
    if (m_pointCount == 0)
        result = 1;
    logLine(QString::asprintf("readTXTData: totalRows=%d, pointCount=%d, chunkSize=%f", m_totalRows,
                              m_pointCount, double(m_chunkSize)));
    setHaveResults(m_pointCount > 0 && haveCSVData());
    setHaveCommercials(m_haveResults && breaks::cutCount(*m_commercials) > 0);
    if (graph)
        graph->commercialsChanged();
    return result;
}

bool AppController::haveCSVData()
{
    const QFileInfo csv(workFile(QStringLiteral("csv")));
    const bool have = csv.exists() && csv.size() > 0;
    logLine(QString::asprintf("haveCSVData: %d", have ? 1 : 0));
    return have;
}

int AppController::readEDLData()
{
    const QString path = workFile(QStringLiteral("edl"));
    bool opened = false;
    const QByteArray text = readWorkFile(QStringLiteral("edl"), &opened);
    const std::optional<int> count = opened ? results::countEdlEntries(text) : std::nullopt;
    if (!count) {
        logLine(QStringLiteral("readEDLData: Missing EDL file: ") + path);
        // A count with no list behind it would let a cut run without one.
        m_commercialsFound = 0;
        setStatus(QStringLiteral("Commercials not yet detected."));
        setHaveResults(false);
        setHaveCommercials(false);
        return 1;
    }
    m_commercialsFound = *count;
    setStatus(
        QString::asprintf("Found %d commercial%s.", m_commercialsFound, m_commercialsFound == 1 ? "" : "s"));
    logLine(QString::asprintf("readEDLData: Found %d commercials.", m_commercialsFound));
    setHaveResults(haveCSVData());
    setHaveCommercials(m_commercialsFound > 0);
    return 0;
}

int AppController::readCSVData()
{
    const QString path = workFile(QStringLiteral("csv"));
    // Opened by its real name, whatever characters the recording's name has.
    FILE *file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!file) {
        logLine(QStringLiteral("readCSVData: Error opening CSV: ") + path);
        setStatus(QStringLiteral("Commercials not yet detected."));
        return 1;
    }
    clearGraphData();
    for (int &v : m_aiValueRange)
        v = 0;
    if (m_pointCount <= 0) {
        setStatus(QStringLiteral("No data found."));
        std::fclose(file);
        return 1;
    }
    logLine(
        QString::asprintf("readCSVData: malloc size = %d", int(sizeof(int)) * kMaxDataCols * m_pointCount));
    m_aiVideoData = static_cast<int *>(std::calloc(size_t(m_pointCount) * kMaxDataCols, sizeof(int)));
    if (!m_aiVideoData) {
        logLine(QStringLiteral("readCSVData: Error allocating memory."));
        setStatus(QStringLiteral("Error allocating memory."));
        std::fclose(file);
        return 2;
    }
    const results::CsvFold fold =
        results::foldCsv(file, m_aiVideoData, m_pointCount, m_aiValueRange, m_chunkSize, m_totalRows);
    if (fold.headerRead)
        m_labels = fold.labels;
    m_pointCount = fold.pointsStored;
    std::fclose(file);
    logLine(QString::asprintf("readCSVData: Loaded %d rows into %d points of %f recs.", m_totalRows,
                              m_pointCount, double(m_chunkSize)));
    for (int k = 0; k < fold.valuesInLastRow; ++k)
        logLine(QStringLiteral("readCSVData: Column=%1/%2 range: %3 to %4")
                    .arg(k)
                    .arg(m_labels.value(k))
                    .arg(m_aiValueRange[2 * k])
                    .arg(m_aiValueRange[2 * k + 1]));
    return 0;
}

void AppController::clearGraphData()
{
    if (!m_aiVideoData)
        return;
    // The view lets go of the matrix before it is freed.
    if (graph) {
        graph->setData(nullptr, VideoGraph::DataSize{0, 0}, nullptr);
        graph->setDataFrames(0, 0.0f, 0.0f, QStringList(), nullptr);
        graph->setDataFile(QString());
        graph->update();
    }
    std::free(m_aiVideoData);
    m_aiVideoData = nullptr;
}
