// The graph window: the chart's table and length summary as the window
// shows them, and the results handed from the controller to the chart.

#include "TestSupport.h"

#include "chart/CommercialTableModel.h"
#include "chart/VideoGraph.h"
#include "ui_GraphWindow.h"
#include "ui_MainWindow.h"

#include <QImage>
#include <QLabel>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>

class TestGraphWindow final : public QObject
{
    Q_OBJECT

private slots:
    void testTableCells()
    {
        Harness h(false);
        VideoGraph *g = h.windows.graph();
        auto list = std::make_shared<CommercialList>(
            CommercialList{{1800, 3599, 1800, 1800}, {7200, 8999, 1800, 5400}});
        g->setDataFrames(108000, 72.0f, 29.97f, {"a", "b"}, list);
        auto *model = qobject_cast<CommercialTableModel *>(h.windows.graphUi().mCommercialTable->model());
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(model->identifier(0), QStringLiteral("#"));
        QCOMPARE(model->data(model->index(0, 0), Qt::DisplayRole).toString(), QStringLiteral("1"));
        QCOMPARE(model->data(model->index(0, 1), Qt::DisplayRole).toString(), QStringLiteral("0:01:00"));
        QCOMPARE(model->data(model->index(1, 3), Qt::DisplayRole).toString(), QStringLiteral("0:01:00"));
        QCOMPARE(model->data(model->index(1, 4), Qt::DisplayRole).toString(), QStringLiteral("0:03:00"));
        QCOMPARE(g->tableObjectValue(QStringLiteral("unknown"), 0), QStringLiteral("0:00:00"));
        // The list emptied under the table: the table keeps its own rows
        // until it is told, and then empties in one reset.
        QSignalSpy resets(model, &QAbstractItemModel::modelReset);
        list->clear();
        QCOMPARE(model->data(model->index(1, 1), Qt::DisplayRole).toString(), QStringLiteral("0:04:00"));
        g->commercialsChanged();
        QCOMPARE(resets.count(), 1);
        QCOMPARE(model->rowCount(), 0);
        QCOMPARE(model->data(model->index(1, 1), Qt::DisplayRole).toString(), QString());
        g->setDataFrames(100, 1.0f, 0.0f, {"a", "b"}, std::make_shared<CommercialList>(*list));
        QCOMPARE(g->tableObjectValue(QStringLiteral("start"), 0), QString());
        g->setDataFrames(0, 0, 0, {}, nullptr);
        QCOMPARE(model->rowCount(), 0);
    }

    void testLengthSummaryWorkedExample()
    {
        Harness h(false);
        VideoGraph *g = h.windows.graph();
        std::vector<int> m(1500 * 20, 0);
        int r[40] = {};
        g->setData(m.data(), {1500, 20}, r);
        g->setDataFrames(108000, 72.0f, 29.97f, {"a", "b"}, std::make_shared<CommercialList>());
        g->buildCommercialBarsInBounds(QRectF(240, 37.5, 1260, 500));
        QCOMPARE(h.windows.graphUi().mShowLengthOld->text(), QStringLiteral("1:00:03"));
        QCOMPARE(h.windows.graphUi().mShowLengthNew->text(), QStringLiteral("1:00:03"));
        // Without a frame rate no time is told.
        g->setDataFrames(108000, 72.0f, 0.0f, {"a", "b"}, nullptr);
        g->buildCommercialBarsInBounds(QRectF(240, 37.5, 1260, 500));
        QCOMPARE(h.windows.graphUi().mShowLengthOld->text(), QString());
    }

    void testHandOffLoadPaths()
    {
        QTemporaryDir dir;
        Harness h;
        AppController &c = h.controller;
        c.setRecording(dir.filePath(QStringLiteral("rec.mpg")));
        const auto path = [&](const char *ext) {
            return dir.filePath(QStringLiteral("rec") + QLatin1String(ext));
        };
        VideoGraph *g = h.windows.graph();
        QLabel *fileName = h.windows.graphUi().mGraphFileText;

        // Without a frame list nothing further is read, not even a cut list.
        writeFile(path(".edl"), "0.00\t1.20\t0\n3.00\t4.00\t0\n");
        c.makeChart();
        QCOMPARE(c.totalRows(), 0);
        QCOMPARE(c.pointCount(), 0);
        QCOMPARE(c.commercialsFound(), 0);
        QFile::remove(path(".edl"));

        writeFile(path(".txt"), "FILE PROCESSING COMPLETE  40 FRAMES AT  2500\n---\n0\t29\n");
        QCOMPARE(c.loadData(), 1); // no EDL
        writeFile(path(".edl"), "0.00\t1.20\t0\n");
        QCOMPARE(c.loadData(), 1); // no CSV
        QCOMPARE(c.commercialsFound(), 1);
        QVERIFY(!c.aiVideoData());
        QCOMPARE(h.windows.ui().mStatusField->text(), QStringLiteral("Commercials not yet detected."));

        writeFile(path(".csv"), "sep=,\nframe,brightness,uniform,\n");
        c.makeChart();
        QCOMPARE(c.pointCount(), 0);
        QVERIFY(c.aiVideoData());
        QCOMPARE(fileName->text(), c.movieFile());

        QByteArray table = "sep=,\nframe,brightness,uniform,\n";
        for (int i = 1; i <= 40; ++i)
            table += QByteArray::number(i) + "," + QByteArray::number(i * 2) + ",5\n";
        writeFile(path(".csv"), table);
        c.makeChart();
        const int *first = c.aiVideoData();
        QCOMPARE(c.pointCount(), 40);
        QCOMPARE(g->dataPointfromRow(39, 1), 80);
        QCOMPARE(g->numberOfRowsInTableView(), 1);
        c.makeChart();
        QVERIFY(c.aiVideoData());
        QCOMPARE(g->dataPointfromRow(39, 1), 80);
        Q_UNUSED(first);

        // A failed load clears the view before the matrix is freed.
        QFile::remove(path(".csv"));
        c.makeChart();
        QVERIFY(!c.aiVideoData());
        QCOMPARE(g->colCount(), 0);
        QCOMPARE(fileName->text(), QString());
        QImage img(200, 100, QImage::Format_RGB32);
        g->render(&img);
    }
};

QTEST_MAIN(TestGraphWindow)
#include "tst_graphwindow.moc"
