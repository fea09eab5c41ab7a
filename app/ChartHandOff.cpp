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
        if (result == 0 && totalRows() != 0)
            result = readCSVData();
    }
    logLine(QString::asprintf("loadData: Loaded %d rows of data into %d points.", totalRows(), pointCount()));
    return result;
}

void AppController::makeChart()
{
    if (loadData() != 0) {
        clearGraphData();
    } else if (graph) {
        graph->setData(m_chart.values.data(),
                       VideoGraph::DataSize{quint32(m_chart.pointCount), quint32(kMaxDataCols)},
                       m_chart.ranges.data());
        graph->setDataFrames(totalRows(), m_chart.chunkSize, fps(), m_labels, m_document.list());
        graph->setDataFile(movieFile());
    }
    if (graph)
        graph->update();
}
