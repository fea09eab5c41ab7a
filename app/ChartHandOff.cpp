// Loading the results and handing them to the chart.

#include "app/BreakReview.h"

#include "core/Diagnostics.h"

int BreakReview::loadData()
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

void BreakReview::makeChart()
{
    if (loadData() != 0)
        clearGraphData();
    else
        emit chartChanged();
}
