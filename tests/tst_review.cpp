// Where a break's edge can go and which frames show it: the detector's
// black frames and scene changes read from its table, the moves of an edge,
// and the frames a strip shows around one.

#include "core/BreakList.h"
#include "core/EdgeMarks.h"

#include <QTest>

using review::EdgeMarks;
using review::Move;

namespace {

// A table as comskip writes it: the spreadsheet hint, labels with leading
// blanks, decimals after the integers, and one row a frame. Frames in
// black are black; a frame in scenes is unlike the one before it.
QByteArray table(int frames, const QList<QPair<int, int>> &black, const QList<int> &scenes)
{
    QByteArray csv =
        "sep=,\nframe,brightness,scene_change,logo,uniform,sound,minY,MaxY,ar_ratio,goodEdge,isblack,"
        "cutscene, MinX, MaxX, hasBright, Dimcount,PTS,29.970030\n";
    for (int f = 1; f <= frames; ++f) {
        bool dark = false;
        for (const auto &[from, to] : black)
            dark = dark || (f >= from && f <= to);
        const int likeness = f == 1 || scenes.contains(f) ? (f % 2 ? 0 : 30) : 470 + f % 25;
        csv += QByteArray::number(f) + ',' + (dark ? "16," : "120,") + QByteArray::number(likeness)
               + ",0,0,1287,10,230,1.510000,0.000000," + (dark ? "16" : "0") + ",100,10,342,0,0,"
               + QByteArray::number((f - 1) / 29.97, 'f', 6) + ",0,2\n";
    }
    return csv;
}

} // namespace

class TestReview final : public QObject
{
    Q_OBJECT

private slots:
    void testMarksReadFromTheTable()
    {
        const EdgeMarks marks = review::parseEdgeMarks(table(400, {{100, 129}, {300, 301}}, {50, 200}));
        QCOMPARE(int(marks.black.size()), 32);
        QCOMPARE(marks.black.front(), 100);
        QCOMPARE(marks.black.back(), 301);
        QVERIFY(marks.isBlack(129) && !marks.isBlack(130) && !marks.isBlack(99));
        // The first frame has nothing before it to change from.
        QCOMPARE(marks.scenes, (std::vector<int>{50, 200}));

        // A table without the columns, an empty one and a torn last line.
        QVERIFY(review::parseEdgeMarks("sep=,\nframe,brightness\n1,20\n2,30\n").empty());
        QVERIFY(review::parseEdgeMarks(QByteArray()).empty());
        QByteArray torn = table(40, {{10, 12}}, {});
        torn.chop(30);
        QCOMPARE(review::parseEdgeMarks(torn).black, (std::vector<int>{10, 11, 12}));
        // Rows out of order, as a clock that leaps back leaves them, are put in order.
        QByteArray shuffled = "frame,isblack,scene_change\n5,1,400\n2,1,400\n3,0,0\n2,1,400\n";
        const EdgeMarks m = review::parseEdgeMarks(shuffled);
        QCOMPARE(m.black, (std::vector<int>{2, 5}));
        QCOMPARE(m.scenes, (std::vector<int>{3}));
    }

    void testEdgeMoves()
    {
        const EdgeMarks marks = review::parseEdgeMarks(table(2000, {{100, 129}, {900, 909}}, {400, 1500}));
        const double fps = 29.97;
        QCOMPARE(review::movedEdge(115, Move::FrameBack, fps, marks), std::optional<int>(114));
        QCOMPARE(review::movedEdge(115, Move::FrameOn, fps, marks), std::optional<int>(116));
        QCOMPARE(review::movedEdge(115, Move::SecondOn, fps, marks), std::optional<int>(145));
        QCOMPARE(review::movedEdge(115, Move::SecondBack, fps, marks), std::optional<int>(85));
        QCOMPARE(review::movedEdge(115, Move::SecondOn, 25.0, marks), std::optional<int>(140));
        // Not before the first frame; a move that goes nowhere is none.
        QCOMPARE(review::movedEdge(10, Move::SecondBack, fps, marks), std::optional<int>(1));
        QCOMPARE(review::movedEdge(1, Move::FrameBack, fps, marks), std::nullopt);
        QCOMPARE(review::movedEdge(1, Move::SecondBack, fps, marks), std::nullopt);

        // From inside a black run: to where it begins, or where the picture returns.
        QCOMPARE(review::movedEdge(115, Move::BlackBack, fps, marks), std::optional<int>(100));
        QCOMPARE(review::movedEdge(115, Move::BlackOn, fps, marks), std::optional<int>(130));
        QCOMPARE(review::movedEdge(100, Move::BlackOn, fps, marks), std::optional<int>(130));
        QCOMPARE(review::movedEdge(130, Move::BlackOn, fps, marks), std::optional<int>(900));
        QCOMPARE(review::movedEdge(900, Move::BlackBack, fps, marks), std::optional<int>(130));
        QCOMPARE(review::movedEdge(910, Move::BlackOn, fps, marks), std::nullopt);
        QCOMPARE(review::movedEdge(100, Move::BlackBack, fps, marks), std::nullopt);

        QCOMPARE(review::movedEdge(115, Move::SceneOn, fps, marks), std::optional<int>(400));
        QCOMPARE(review::movedEdge(400, Move::SceneOn, fps, marks), std::optional<int>(1500));
        QCOMPARE(review::movedEdge(1500, Move::SceneBack, fps, marks), std::optional<int>(400));
        QCOMPARE(review::movedEdge(400, Move::SceneBack, fps, marks), std::nullopt);
        QCOMPARE(review::movedEdge(1500, Move::SceneOn, fps, marks), std::nullopt);
        // Without a table there is nothing to land on.
        QCOMPARE(review::movedEdge(115, Move::BlackOn, fps, EdgeMarks()), std::nullopt);
    }

    void testStripSkipsTheBlackAtTheEdge()
    {
        using Slot = review::StripSlot;
        const auto at = [](const std::array<int, review::kStripFrames> &f, Slot s) { return f[size_t(s)]; };
        const double fps = 29.97;
        const EdgeMarks marks = review::parseEdgeMarks(table(20000, {{4497, 4526}, {4400, 4410}}, {}));

        // An edge in the middle of the black: the last picture is a frame
        // before the run and the first a frame after it, so that a frame's
        // doubt either way still shows picture; seconds further out, black
        // is stepped over too.
        const auto strip = review::stripFrames(4512, fps, 20000, marks);
        QCOMPARE(at(strip, Slot::Edge), 4512);
        QCOMPARE(at(strip, Slot::LastBefore), 4495);
        QCOMPARE(at(strip, Slot::FirstAfter), 4528);
        QCOMPARE(at(strip, Slot::After), 4528 + 90);
        QCOMPARE(at(strip, Slot::Before), 4400 - 2);
        for (int f : strip)
            QVERIFY2(f == 4512 || !marks.isBlack(f), qPrintable(QString::number(f)));

        // A hard cut with no black: the frames either side of it.
        const auto hard = review::stripFrames(9000, fps, 20000, marks);
        QCOMPARE(at(hard, Slot::LastBefore), 8999);
        QCOMPARE(at(hard, Slot::FirstAfter), 9000);

        // Black longer than the reach is what the recording shows there.
        const EdgeMarks longBlack = review::parseEdgeMarks(table(3000, {{1000, 2000}}, {}));
        const auto dark = review::stripFrames(1500, fps, 3000, longBlack);
        QVERIFY(at(dark, Slot::LastBefore) > 1000 && at(dark, Slot::FirstAfter) < 2000);

        // At either end of the recording the frames stay inside it.
        const auto first = review::stripFrames(1, fps, 20000, marks);
        QCOMPARE(at(first, Slot::Before), 1);
        QCOMPARE(at(first, Slot::LastBefore), 1);
        const auto last = review::stripFrames(20001, fps, 20000, marks);
        QCOMPARE(at(last, Slot::Edge), 20000);
        QCOMPARE(at(last, Slot::After), 20000);
    }

    void testFrameTimeReadsBack()
    {
        QCOMPARE(breaks::frameTimeText(4512, 29.97f), QStringLiteral("0:02:30.55"));
        QCOMPARE(breaks::frameTimeText(0, 25.0f), QStringLiteral("0:00:00.00"));
        QCOMPARE(breaks::frameTimeText(90000 * 3 + 1, 25.0f), QStringLiteral("3:00:00.04"));
        QVERIFY(breaks::frameTimeText(10, 0.0f).isEmpty());
        QVERIFY(breaks::frameTimeText(-1, 25.0f).isEmpty());
        // Every frame, at the rates broadcasts use, reads back as itself.
        for (const float fps : {23.976f, 25.0f, 29.97f, 50.0f, 59.94f})
            for (int f = 0; f < 120000; f += 7)
                QCOMPARE(breaks::framesFromText(breaks::frameTimeText(f, fps), fps), std::optional<int>(f));
    }
};

QTEST_GUILESS_MAIN(TestReview)
#include "tst_review.moc"
