// The detector's results as the window shows them: the count, the flags
// and the status line follow the lists beside the recording.

#include "app/BreakReview.h"

#include "app/AppController.h"

#include "core/BreakList.h"
#include "core/Diagnostics.h"

int BreakReview::readTXTData()
{
    int result = 0;
    if (!m_document.reload()) {
        logLine(QStringLiteral("readTXTData: TXT file is missing."));
        setStatus(QStringLiteral("Commercials not yet detected."));
        result = 1;
    } else {
        logLine(QString::asprintf("readTXTData: rows=%d, fps=%f", totalRows(), double(fps())));
    }
    const results::Sampling sampling = results::samplingFor(totalRows());
    m_pointCount = sampling.pointCount;
    m_chunkSize = sampling.chunkSize;
    if (sampling.pointCount == 0)
        result = 1;
    logLine(QString::asprintf("readTXTData: totalRows=%d, pointCount=%d, chunkSize=%f", totalRows(),
                              sampling.pointCount, double(sampling.chunkSize)));
    setHaveResults(sampling.pointCount > 0 && haveCSVData());
    setHaveCommercials(m_c.haveResults() && m_document.cutCount() > 0);
    emit commercialsChanged();
    return result;
}

bool BreakReview::haveCSVData()
{
    const bool have = m_recording.haveTable();
    logLine(QString::asprintf("haveCSVData: %d", have ? 1 : 0));
    return have;
}

int BreakReview::readEDLData()
{
    const std::optional<int> count = m_recording.cutListCount();
    if (!count) {
        logLine(QStringLiteral("readEDLData: Missing EDL file: ") + workFile(QStringLiteral("edl")));
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

int BreakReview::readCSVData()
{
    Recording::Chart chart;
    const Recording::ChartLoad load = m_recording.readChart(m_pointCount, m_chunkSize, totalRows(), chart);
    // A table that cannot be opened leaves the chart as it was.
    if (load == Recording::ChartLoad::NoTable) {
        logLine(QStringLiteral("readCSVData: Error opening CSV: ") + workFile(QStringLiteral("csv")));
        setStatus(QStringLiteral("Commercials not yet detected."));
        return 1;
    }
    clearGraphData();
    m_chart = std::move(chart);
    switch (load) {
    case Recording::ChartLoad::NoTable:
    case Recording::ChartLoad::NoData:
        setStatus(QStringLiteral("No data found."));
        return 1;
    case Recording::ChartLoad::NoMemory:
        logLine(QStringLiteral("readCSVData: Error allocating memory."));
        setStatus(QStringLiteral("Error allocating memory."));
        return 2;
    case Recording::ChartLoad::Loaded:
        break;
    }
    m_pointCount = m_chart.pointCount;
    if (m_chart.headerRead)
        m_labels = m_chart.labels;
    m_chunkSize = m_chart.chunkSize;
    m_edgeMarks = m_recording.edgeMarks();
    logLine(QString::asprintf("readCSVData: Loaded %d rows into %d points of %f recs.", totalRows(),
                              m_chart.pointCount, double(m_chart.chunkSize)));
    return 0;
}

void BreakReview::clearGraphData()
{
    if (m_chart.values.empty())
        return;
    // The view lets go of the points before they are freed.
    emit chartCleared();
    m_chart = Recording::Chart();
    m_edgeMarks = review::EdgeMarks();
}
