// Loading the results and handing them to the chart.

#include "app/AppController.h"

#include "chart/VideoGraph.h"
#include "core/Diagnostics.h"

#include <QWidget>

void AppController::graphAction(QObject *)
{
    if (mGraphWindow) {
        mGraphWindow->show();
        mGraphWindow->raise();
        mGraphWindow->activateWindow();
    }
    makeChart();
}

int AppController::loadData()
{
    int result = readTXTData();
    if (result == 0) {
        result = readEDLData();
        if (result == 0 && m_totalRows != 0)
            result = readCSVData();
    }
    logLine(QString::asprintf("loadData: Loaded %d rows of data into %d points.", m_totalRows, m_pointCount));
    return result;
}

void AppController::makeChart()
{
    if (loadData() != 0) {
        clearGraphData();
    } else if (graph) {
        graph->setData(m_aiVideoData, VideoGraph::DataSize{quint32(m_pointCount), quint32(kMaxDataCols)},
                       m_aiValueRange);
        graph->setDataFrames(m_totalRows, m_chunkSize, m_fps, m_labels, m_commercials);
        graph->setDataFile(m_movieFile);
    }
    if (graph)
        graph->update();
}
