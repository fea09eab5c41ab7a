// Reviewing and correcting the detection before cutting: the rules of the
// break list, the table's edits and their checks, undo and redo, the work
// files the cutter reads, and a kept break drawn hollow.

#include "TestSupport.h"

#include "app/EdgeReview.h"
#include "app/FrameStrip.h"
#include "chart/CommercialTableModel.h"
#include "chart/VideoGraph.h"
#include "core/BreakList.h"
#include "core/MediaInfo.h"
#include "core/ResultParsers.h"
#include "ui_GraphWindow.h"
#include "ui_MainWindow.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QUndoStack>

namespace {

Commercial brk(int start, int end, bool cut = true)
{
    Commercial c;
    c.start = start;
    c.end = end;
    c.cut = cut;
    return c;
}

// What the stand-in detector finds: 1800-3599 and 7200-8999 of 10,800 frames.
const CommercialList kDetected{brk(1800, 3599), brk(7200, 8999)};

} // namespace

class TestEdits final : public QObject
{
    Q_OBJECT

    CaseDirs m_dirs;
    QString freshDir() { return m_dirs.next(); }

    // A recording detected by the stand-in, with its chart loaded.
    static void detectAndChart(StandInRun &r)
    {
        r.controller.detectStart();
        QVERIFY(waitForIdle(r.controller));
        r.controller.graphAction();
        QCOMPARE(model(r)->rowCount(), 2);
    }
    static CommercialTableModel *model(StandInRun &r)
    {
        return qobject_cast<CommercialTableModel *>(r.windows.graphUi().mCommercialTable->model());
    }
    static int cutColumn(StandInRun &r) { return model(r)->column(QStringLiteral("cut")); }

private slots:
    // ---- the rules

    void testPositionsFollowTheCuts()
    {
        CommercialList list{brk(7200, 8999), brk(1800, 3599, false), brk(9500, 9999)};
        breaks::recompute(list);
        QCOMPARE(list.at(0).start, 1800); // in order of start
        QCOMPARE(list.at(0).length, 1800);
        QCOMPARE(list.at(0).brk, 1800);
        // The kept break stays programme: the next position counts it.
        QCOMPARE(list.at(1).brk, 7200);
        QCOMPARE(list.at(2).brk, 7200 + (9500 - 8999));
        QCOMPARE(breaks::cutCount(list), 2);
    }

    void testProblems_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("problem");
        QTest::newRow("fine") << 0 << 1700 << 3599 << QString();
        QTest::newRow("start after end")
            << 0 << 3600 << 3599 << QStringLiteral("A break's start must come before its end.");
        QTest::newRow("before the recording")
            << 0 << -5 << 3599 << QStringLiteral("A break cannot start or end before the recording does.");
        QTest::newRow("past the end")
            << 1 << 7200 << 10800 << QStringLiteral("A break cannot run past the end of the recording.");
        QTest::newRow("into the next")
            << 0 << 1800 << 7200 << QStringLiteral("Breaks cannot overlap: this one would run into break 2.");
        QTest::newRow("new over one")
            << -1 << 3000 << 4000
            << QStringLiteral("Breaks cannot overlap: this one would run into break 1.");
        QTest::newRow("new between") << -1 << 4000 << 5000 << QString();
        // Shorter breaks are dropped by the frame list's reader: cut, yet
        // gone from the table once reopened.
        QTest::newRow("29 frames") << 0 << 1700 << 1728
                                   << QStringLiteral("A break must be at least 30 frames long.");
        QTest::newRow("30 frames") << 0 << 1700 << 1729 << QString();
    }
    void testProblems()
    {
        QFETCH(int, row);
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(QString, problem);
        QCOMPARE(breaks::problemWith(kDetected, row, start, end, 10800), problem);
    }

    void testTimeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("frames"); // -1: not a time
        QTest::newRow("table's own form") << "0:01:00" << 1798;
        QTest::newRow("no hours") << "01:00" << 1798;
        QTest::newRow("hundredths") << "0:01:00.50" << 1813;
        QTest::newRow("frames") << "0:01:00;12" << 1810;
        QTest::newRow("too many frames") << "0:01:00;30" << -1;
        QTest::newRow("minutes out of range") << "0:61:00" << -1;
        QTest::newRow("words") << "soon" << -1;
        QTest::newRow("empty") << "" << -1;
    }
    void testTimeText()
    {
        QFETCH(QString, text);
        QFETCH(int, frames);
        const std::optional<int> got = breaks::framesFromText(text, 29.97f);
        QCOMPARE(got.value_or(-1), frames);
        QVERIFY(!breaks::framesFromText(QStringLiteral("0:01:00"), 0.0f));
    }

    void testFilesRoundTrip()
    {
        CommercialList list{brk(1800, 3599), brk(7200, 8999, false), brk(9300, 9599)};
        breaks::recompute(list);
        const results::FrameList back = results::parseFrameList(breaks::frameListText(10800, 29.97f, list));
        QVERIFY(back.found);
        QCOMPARE(back.totalRows, 10800);
        QCOMPARE(back.fps, 29.97f);
        // Only the cut breaks are in the files the cutter reads.
        QCOMPARE(back.commercials.size(), 2);
        QCOMPARE(back.commercials.at(1).start, 9300);
        const auto cuts = media::parseEdlCuts(breaks::edlText(29.97f, list));
        QVERIFY(cuts);
        QCOMPARE(cuts->size(), 2);
        QVERIFY(qAbs(cuts->at(0).start - 1800 / 29.97) < 0.01);
        QVERIFY(qAbs(cuts->at(0).end - 3600 / 29.97) < 0.01);
        // Laid over the detector's list, the kept one comes back unticked.
        const CommercialList shown = breaks::merged(back.commercials, kDetected);
        QCOMPARE(shown.size(), 3);
        QVERIFY(!shown.at(1).cut);
        QCOMPARE(shown.at(1).start, 7200);
        QCOMPARE(breaks::editedCount(shown, kDetected), 2); // one kept, one added
        QCOMPARE(breaks::editedCount(kDetected, kDetected), 0);
    }

    // ---- the table, the files and undo

    void testUntickMoveUndoRedoAndReopen()
    {
        const QString dir = freshDir();
        StandInRun r(dir);
        AppController &c = r.controller;
        detectAndChart(r);
        CommercialTableModel *m = model(r);
        const QByteArray detectedTxt = readAll(r.work(".txt"));
        QVERIFY(m->flags(m->index(0, cutColumn(r))) & Qt::ItemIsUserCheckable);
        QVERIFY(m->flags(m->index(0, 1)) & Qt::ItemIsEditable);

        // Untick the second break: it stays in the copy.
        QVERIFY(m->setData(m->index(1, cutColumn(r)), Qt::Unchecked, Qt::CheckStateRole));
        QCOMPARE(m->data(m->index(1, cutColumn(r)), Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QCOMPARE(c.commercialsFound(), 1);
        QCOMPARE(readAll(r.work(".detected.txt")), detectedTxt);
        QCOMPARE(results::parseFrameList(readAll(r.work(".txt"))).commercials.size(), 1);
        QCOMPARE(media::parseEdlCuts(readAll(r.work(".edl")))->size(), 1);
        QCOMPARE(r.windows.graphUi().mShowLengthNew->text(),
                 VideoGraph::formatTime((10800 - 1800) / 29.97, true));
        QCOMPARE(r.ui().mStatusField->text(),
                 QStringLiteral("1 of 2 detected breaks will be cut, 1 edited."));

        // Move the first break's start, as typed in the table.
        QVERIFY(m->setData(m->index(0, 1), QStringLiteral("0:00:58"), Qt::EditRole));
        QCOMPARE(m->rows().at(0).start, 1738);
        // What cannot be is refused, and said.
        QSignalSpy rejected(m, &CommercialTableModel::editRejected);
        QVERIFY(!m->setData(m->index(0, 1), QStringLiteral("0:03:00"), Qt::EditRole));
        QVERIFY(!m->setData(m->index(0, 2), QStringLiteral("0:04:10"), Qt::EditRole));
        QVERIFY(!m->setData(m->index(0, 2), QStringLiteral("later"), Qt::EditRole));
        QCOMPARE(rejected.count(), 3);
        QCOMPARE(r.windows.graphUi().mGraphStatusText->text(), rejected.last().first().toString());
        QCOMPARE(m->rows().at(0).start, 1738);

        QUndoStack *undo = r.windows.undoStack();
        QCOMPARE(undo->count(), 2);
        undo->undo();
        QCOMPARE(m->rows().at(0).start, 1800);
        undo->undo();
        QVERIFY(m->rows().at(1).cut);
        QCOMPARE(results::parseFrameList(readAll(r.work(".txt"))).commercials, kDetectedParsed());
        undo->redo();
        undo->redo();
        QCOMPARE(m->rows().at(0).start, 1738);
        QVERIFY(!m->rows().at(1).cut);

        // Reopened, the edited list is what shows.
        StandInRun again(dir);
        again.controller.graphAction();
        QCOMPARE(model(again)->rowCount(), 2);
        QCOMPARE(model(again)->rows().at(0).start, 1738);
        QVERIFY(!model(again)->rows().at(1).cut);
        QCOMPARE(again.controller.commercialsFound(), 1);
        // Revert brings the detector's own list back, after a restart too.
        again.windows.graphUi().revertButton->click();
        QCOMPARE(model(again)->rows(), kDetectedParsed());
        QCOMPARE(again.controller.commercialsFound(), 2);
        // Erasing the work files takes the kept original with them.
        again.controller.clean();
        QVERIFY(!QFile::exists(again.work(".detected.txt")));
        QVERIFY(!QFile::exists(again.work(".detected.edl")));
    }

    // An edit undone on one recording is never redone on the next one
    // chosen: its list holds no break the user did not touch.
    void testUndoStaysWithItsRecording()
    {
        const QString dir = freshDir();
        StandInRun r(dir);
        detectAndChart(r);
        CommercialTableModel *m = model(r);
        QVERIFY(m->setData(m->index(1, cutColumn(r)), Qt::Unchecked, Qt::CheckStateRole));
        QUndoStack *undo = r.windows.undoStack();
        undo->undo();
        QVERIFY(m->rows().at(1).cut);

        const QString other = dir + QStringLiteral("/other.mpg");
        writeFile(other, readAll(r.movie));
        r.chooseRecording(other);
        detectAndChart(r);
        const QByteArray edl = readAll(r.work(".edl"));
        QCOMPARE(media::parseEdlCuts(edl)->size(), 2);
        QVERIFY(!undo->canRedo());
        undo->redo();
        QCOMPARE(readAll(r.work(".edl")), edl);
        QVERIFY(m->rows().at(1).cut);
    }

    void testKeysAddAndDelete()
    {
        StandInRun r(freshDir());
        detectAndChart(r);
        QTableView *table = r.windows.graphUi().mCommercialTable;
        CommercialTableModel *m = model(r);
        table->setCurrentIndex(m->index(0, 1));
        QTest::keyClick(table, Qt::Key_Space);
        QVERIFY(!m->rows().at(0).cut);
        QTest::keyClick(table, Qt::Key_Space);
        QVERIFY(m->rows().at(0).cut);
        // Added in the longest stretch of programme, 30 s long.
        r.windows.graphUi().addBreakButton->click();
        QCOMPARE(m->rowCount(), 3);
        const Commercial added = m->rows().at(1);
        QVERIFY(added.start > 3599 && added.end < 7200);
        QCOMPARE(added.end - added.start + 1, int(30 * 29.97f));
        table->setCurrentIndex(m->index(1, 1));
        QTest::keyClick(table, Qt::Key_Delete);
        QCOMPARE(m->rows(), kDetectedParsed());
        QCOMPARE(r.windows.undoStack()->count(), 4);
    }

    // The keys move the selected edge of the break under the table's
    // cursor, by a frame, a second, or onto the black and the scene changes
    // of the detector's table; each move is one edit, the chart draws it and
    // the strip follows it. The cursor on the End column moves the end.
    void testEdgeKeys()
    {
        StandInRun r(freshDir());
        detectAndChart(r);
        // The detector's table, with black around the first break's start
        // and a scene change inside it.
        QByteArray csv = "sep=,\nframe,brightness,scene_change,isblack,PTS,29.970030\n";
        for (int f = 1; f <= 10800; ++f) {
            const bool black = (f >= 1790 && f <= 1809) || (f >= 3590 && f <= 3610);
            csv += QByteArray::number(f) + (black ? ",16," : ",120,") + (f == 1850 ? "0," : "490,")
                   + (black ? "16," : "0,") + QByteArray::number((f - 1) / 29.97, 'f', 6) + '\n';
        }
        writeFile(r.work(".csv"), csv);
        r.controller.graphAction();
        Ui::GraphWindow &g = r.windows.graphUi();
        QTableView *table = g.mCommercialTable;
        CommercialTableModel *m = model(r);
        QUndoStack *undo = r.windows.undoStack();
        VideoGraph *chart = r.windows.graph();
        EdgeReview *review = r.windows.edgeReview();
        // Nothing to move until a break is chosen.
        QVERIFY(!review->action(review::Move::FrameOn)->isEnabled());
        // The keys are the chart window's, heard while it is the active one.
        r.windows.graphWindow()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(r.windows.graphWindow()));
        table->setFocus();
        table->setCurrentIndex(m->index(0, m->column(QStringLiteral("start"))));
        QVERIFY(review->startEdge());
        QCOMPARE(g.startStrip->title(), QStringLiteral("Start of break 1"));
        QCOMPARE(g.endStrip->title(), QStringLiteral("End of break 1"));
        // A screen reader hears what each picture is a frame of, and the
        // captions as they read.
        QStringList heard;
        for (QLabel *label : g.startStrip->findChildren<QLabel *>())
            heard << QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
        QVERIFY2(heard.contains(
                     QStringLiteral("Start of break 1: edge, %1").arg(breaks::frameTimeText(1800, 29.97f))),
                 qPrintable(heard.join(QLatin1String(" | "))));
        QVERIFY2(heard.contains(QStringLiteral("Last before\n%1").arg(breaks::frameTimeText(1788, 29.97f))),
                 qPrintable(heard.join(QLatin1String(" | "))));
        const auto start = [&] { return m->rows().at(0).start; };
        const auto key = [&](int k, Qt::KeyboardModifiers mods = {}) { QTest::keyClick(table, k, mods); };

        key(Qt::Key_Period);
        QTRY_COMPARE(start(), 1801);
        key(Qt::Key_Comma);
        QTRY_COMPARE(start(), 1800);
        key(Qt::Key_Period, Qt::ControlModifier);
        QTRY_COMPARE(start(), 1830);
        // The chart draws the list the keys change.
        QCOMPARE(chart->commercialList()->at(0).start, 1830);
        QTRY_VERIFY(g.startStrip->panels().value(2).caption.endsWith(breaks::frameTimeText(1830, 29.97f)));
        key(Qt::Key_BracketLeft);
        QTRY_COMPARE(start(), 1810);
        key(Qt::Key_BracketLeft);
        QTRY_COMPARE(start(), 1790);
        key(Qt::Key_BracketRight, Qt::ControlModifier);
        QTRY_COMPARE(start(), 1850);
        QCOMPARE(undo->count(), 6);
        // Nowhere to go says so and changes nothing.
        key(Qt::Key_BracketRight, Qt::ControlModifier);
        QTRY_COMPARE(g.mGraphStatusText->text(), QStringLiteral("No scene change after this edge."));
        // and a screen reader hears it as it reads.
        QCOMPARE(QAccessible::queryAccessibleInterface(g.mGraphStatusText)->text(QAccessible::Name),
                 g.mGraphStatusText->text());
        QCOMPARE(undo->count(), 6);
        while (undo->canUndo())
            undo->undo();
        QCOMPARE(start(), 1800);

        // The cursor on the End column moves the end, and the edge's strip
        // is marked as the one that moves.
        table->setCurrentIndex(m->index(0, m->column(QStringLiteral("end"))));
        QVERIFY(!review->startEdge());
        QVERIFY(g.endStrip->isCurrent() && !g.startStrip->isCurrent());
        QVERIFY(g.edgeEndRadio->isChecked());
        key(Qt::Key_BracketRight);
        QTRY_COMPARE(m->rows().at(0).end, 3610);
        QCOMPARE(start(), 1800);
        // A move the list cannot take is refused in words.
        for (int k = 0; k < 70; ++k)
            review->action(review::Move::SecondBack)->trigger();
        const int end = m->rows().at(0).end;
        QVERIFY2(end > start() && end - 30 < start() + 30,
                 qPrintable(QStringLiteral("%1 %2").arg(start()).arg(end)));
        const QString why = breaks::problemWith(m->rows(), 0, start(), end - 30, 10800);
        QVERIFY(!why.isEmpty());
        QCOMPARE(g.mGraphStatusText->text(), why);

        // A click on the chart shows the frames around it, and leaves the
        // break's edges alone.
        const int edits = undo->count();
        emit chart->frameClicked(5000);
        QCOMPARE(g.startStrip->title(), QStringLiteral("Around %1").arg(breaks::frameTimeText(5000, 29.97f)));
        QVERIFY(g.endStrip->panels().isEmpty());
        key(Qt::Key_Period);
        QCOMPARE(undo->count(), edits);
    }

    void testDragsOnTheChart()
    {
        StandInRun r(freshDir());
        detectAndChart(r);
        // A table with a row for each of the 10,800 frames, so the bars stand
        // where the frames are.
        QByteArray csv = "sep=,\nframe,brightness,29.970030\n";
        for (int i = 1; i <= 10800; ++i)
            csv += QByteArray::number(i) + ',' + QByteArray::number(i % 200) + '\n';
        writeFile(r.work(".csv"), csv);
        r.controller.graphAction();
        QCOMPARE(r.controller.pointCount(), 1500);
        r.windows.graphWindow()->resize(1200, 700);
        r.windows.graphWindow()->show();
        QVERIFY(QTest::qWaitForWindowExposed(r.windows.graphWindow()));
        VideoGraph *g = r.windows.graph();
        CommercialTableModel *m = model(r);
        const int y = g->height() / 2;
        int edge = -1;
        for (int x = 0; x < g->width() && edge < 0; ++x)
            if (g->edgeAt(QPointF(x, y)) == std::make_pair(0, true))
                edge = x;
        QVERIFY(edge > 0);
        // The cursor shows the edge can be taken; dragging it moves the start.
        QTest::mouseMove(g, QPoint(edge, y));
        QCOMPARE(g->cursor().shape(), Qt::SizeHorCursor);
        const int target = g->frameAt(QPointF(edge - 30, y));
        QTest::mousePress(g, Qt::LeftButton, {}, QPoint(edge, y));
        QTest::mouseMove(g, QPoint(edge - 30, y));
        QTest::mouseRelease(g, Qt::LeftButton, {}, QPoint(edge - 30, y));
        QCOMPARE(m->rows().at(0).start, target);
        QVERIFY(target < 1800);
        // Shift and a drag over programme draws a new break.
        const int xa = int(g->width() * 0.45), xb = int(g->width() * 0.55);
        const int a = g->frameAt(QPointF(xa, y)), b = g->frameAt(QPointF(xb, y));
        QVERIFY(a > 3599 && b < 7200);
        QTest::mousePress(g, Qt::LeftButton, Qt::ShiftModifier, QPoint(xa, y));
        QTest::mouseMove(g, QPoint(xb, y));
        QTest::mouseRelease(g, Qt::LeftButton, Qt::ShiftModifier, QPoint(xb, y));
        QCOMPARE(m->rowCount(), 3);
        QCOMPARE(m->rows().at(1).start, a);
        // A click asks for the frame there.
        QSignalSpy clicked(g, &VideoGraph::frameClicked);
        QTest::mouseClick(g, Qt::LeftButton, {}, QPoint(int(g->width() * 0.9), y));
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(r.windows.undoStack()->count(), 2);
    }

    void testEditedListIsWhatGetsCut()
    {
        StandInRun r(freshDir());
        AppController &c = r.controller;
        detectAndChart(r);
        model(r)->toggleCut(0);
        EnvGuard env;
        // The stand-in ffprobe says the copy holds one cut's worth less.
        env.set("STANDIN_COPY_FRAMES", "9000");
        StatusRecorder status(r.ui().mStatusField);
        const QStringList &seen = status.seen;
        c.removeStart();
        // The cutter is handed a list of the one approved break.
        QCOMPARE(media::parseEdlCuts(readAll(r.work(".edl")))->size(), 1);
        QVERIFY(waitForIdle(c));
        QVERIFY2(seen.contains(QStringLiteral("Cutting 1 of 2 detected breaks, 1 edited.")),
                 qPrintable(seen.join(u'|')));
        QVERIFY2(c.lastOutcome().cutter == QLatin1String("mencoder") && c.lastOutcome().breaksCut == 1
                     && qAbs(c.lastOutcome().keptSeconds - 300) < 1,
                 qPrintable(r.ui().mStatusField->text()));
        // Editing waits while a run lasts.
        EnvGuard wait;
        wait.set("STANDIN_MODE", "wait");
        c.removeStart();
        model(r)->toggleCut(1);
        QCOMPARE(r.windows.graphUi().mGraphStatusText->text(),
                 QStringLiteral("The breaks cannot change while a run is in progress."));
        c.removeStop();
    }

    void testKeptBreakIsHollow()
    {
        VideoGraph g(QSizeF(1500, 750));
        std::vector<int> matrix(150 * 20, 0);
        int ranges[40] = {};
        auto list = std::make_shared<CommercialList>(CommercialList{brk(300, 599), brk(900, 1199, false)});
        g.setData(matrix.data(), {150, 20}, ranges);
        g.setLabelsInOrder({"a"});
        g.setDataFrames(1500, 10.0f, 25.0f, {"frame", "a"}, list);
        QImage img(1500, 750, QImage::Format_RGB32);
        g.render(&img);
        QCOMPARE(g.commercialPaths().size(), 1);
        QCOMPARE(g.keptPaths().size(), 1);
        const QRectF cut = g.commercialPaths().first().boundingRect();
        const QRectF kept = g.keptPaths().first().boundingRect();
        const auto at = [&](double x, double y) { return QColor(img.pixel(int(x), int(749 - y))); };
        // A cut break is filled; a kept one is white inside, with a frame.
        QVERIFY(at(cut.center().x(), cut.center().y() - 40).red() < 230);
        QCOMPARE(at(kept.center().x(), kept.center().y() - 40), QColor(Qt::white));
        bool framed = false;
        for (double y = kept.top(); y < kept.bottom(); y += 1.0)
            framed = framed || at(kept.left() + 1, y).red() < 200;
        QVERIFY(framed);
    }

private:
    static CommercialList kDetectedParsed()
    {
        CommercialList l = kDetected;
        breaks::recompute(l);
        return l;
    }
};

QTEST_MAIN(TestEdits)
#include "tst_edits.moc"
