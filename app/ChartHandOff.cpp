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
        if (result == 0 && totalRows != 0)
            result = readCSVData();
    }
    logLine(QString::asprintf("loadData: Loaded %d rows of data into %d points.", totalRows, pointCount));
    return result;
}

void AppController::makeChart()
{
    if (loadData() != 0) {
        clearGraphData();
    } else if (graph) {
        graph->setData(aiVideoData, VideoGraph::DataSize{quint32(pointCount), quint32(kMaxDataCols)},
                       aiValueRange);
        graph->setDataFrames(totalRows, chunkSize, fps, labels, commercials);
        graph->setDataFile(movieFile);
    }
    if (graph)
        graph->update();
}
