#pragma once

#include "core/EdgeMarks.h"

#include <QObject>
#include <QPointer>

class AppController;
class CommercialTableModel;
class FramePreview;
class FrameStrip;
class QAction;
class QProcess;
class QToolButton;
class QWidget;
namespace Ui {
class GraphWindow;
}

// The review of one break in the chart window: a strip of frames at each of
// its edges, the keys and buttons that move an edge by a frame, a second,
// or to the black frames and scene changes the detector measured (each move
// one undoable edit, asked of the table like any other), and the player
// started a few seconds before an edge.
class EdgeReview : public QObject
{
    Q_OBJECT
public:
    // Seconds the player shows either side of an edge.
    static constexpr double kPlaySeconds = 3.0;

    EdgeReview(AppController &controller, CommercialTableModel &table, Ui::GraphWindow &ui, QWidget *window);
    ~EdgeReview() override;

    // The break the table's cursor is on, -1 for none; its strips follow.
    void showBreak(int row);
    // The frames around one the user clicked on the chart.
    void showFrame(int frame);
    void setStartEdge(bool start);
    bool startEdge() const { return m_startEdge; }
    void move(review::Move move);
    void play();
    QAction *action(review::Move move) const;

private:
    void addMove(review::Move move, const QString &title, const QString &key, const QString &spoken,
                 QToolButton *button);
    void fillStrip(FrameStrip *strip, const QString &title, int position, const QString &what);
    // Seconds from the first video frame to the detector's frame.
    double secondsOf(int frame) const;
    int edgePosition() const;
    // The keys act only while a break's edges are shown.
    void enableMoves(bool enabled);
    void say(const QString &text);

    AppController &m_c;
    CommercialTableModel &m_table;
    Ui::GraphWindow &m_ui;
    FramePreview *m_preview;
    QProcess *m_player;
    QList<QPair<review::Move, QAction *>> m_moves;
    QAction *m_play = nullptr;
    int m_row = -1;
    bool m_startEdge = true;
};
