#include "app/EdgeReview.h"

#include "app/AppController.h"
#include "app/FramePreview.h"
#include "app/FrameStrip.h"
#include "chart/CommercialTableModel.h"
#include "core/BreakList.h"
#include "ui_GraphWindow.h"

#include <QAction>
#include <QFileInfo>
#include <QProcess>
#include <QToolButton>

#include <algorithm>
#include <cmath>

using review::Move;

EdgeReview::EdgeReview(AppController &controller, CommercialTableModel &table, Ui::GraphWindow &ui,
                       QWidget *window)
    : QObject(window),
      m_c(controller),
      m_table(table),
      m_ui(ui),
      m_preview(new FramePreview(controller.toolLocator(), this)),
      m_player(new QProcess(this))
{
    // The keys are the window's, so they work from the table, the chart or
    // the buttons alike; none is a letter a cell's editor needs.
    const struct
    {
        Move move;
        QString title;
        const char *key;
        QString spoken;
        QToolButton *button;
    } moves[] = {
        {Move::FrameBack, tr("Frame Earlier"), ",", tr("Move the edge one frame earlier"),
         ui.frameBackButton},
        {Move::FrameOn, tr("Frame Later"), ".", tr("Move the edge one frame later"), ui.frameOnButton},
        {Move::SecondBack, tr("Second Earlier"), "Ctrl+,", tr("Move the edge one second earlier"),
         ui.secondBackButton},
        {Move::SecondOn, tr("Second Later"), "Ctrl+.", tr("Move the edge one second later"),
         ui.secondOnButton},
        {Move::BlackBack, tr("Previous Black"), "[",
         tr("Move the edge to where the black frames before it begin or end"), ui.blackBackButton},
        {Move::BlackOn, tr("Next Black"), "]",
         tr("Move the edge to where the black frames after it begin or end"), ui.blackOnButton},
        {Move::SceneBack, tr("Previous Scene"), "Ctrl+[", tr("Move the edge to the scene change before it"),
         ui.sceneBackButton},
        {Move::SceneOn, tr("Next Scene"), "Ctrl+]", tr("Move the edge to the scene change after it"),
         ui.sceneOnButton},
    };
    for (const auto &m : moves)
        addMove(m.move, m.title, QString::fromLatin1(m.key), m.spoken, m.button);
    m_play = new QAction(tr("Play Edge"), this);
    m_play->setShortcut(QKeySequence(QStringLiteral("P")));
    m_play->setToolTip(tr("Play the seconds around the edge (P)"));
    window->addAction(m_play);
    ui.playEdgeButton->setDefaultAction(m_play);
    ui.playEdgeButton->setAccessibleDescription(m_play->toolTip());
    connect(m_play, &QAction::triggered, this, &EdgeReview::play);

    connect(ui.edgeStartRadio, &QAbstractButton::toggled, this, [this](bool on) { setStartEdge(on); });
    connect(ui.startStrip, &FrameStrip::clicked, this, [this] { setStartEdge(true); });
    connect(ui.endStrip, &FrameStrip::clicked, this, [this] { setStartEdge(false); });
    connect(m_preview, &FramePreview::ready, this, [this](double seconds, const QImage &image) {
        m_ui.startStrip->showFrame(seconds, image);
        m_ui.endStrip->showFrame(seconds, image);
    });
    m_player->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_player->setStandardOutputFile(QProcess::nullDevice());
    setStartEdge(true);
    showBreak(-1);
}

EdgeReview::~EdgeReview()
{
    // The player shows the user's recording; it goes with the window.
    if (m_player->state() != QProcess::NotRunning) {
        m_player->kill();
        m_player->waitForFinished(1000);
    }
}

void EdgeReview::addMove(Move move, const QString &title, const QString &key, const QString &spoken,
                         QToolButton *button)
{
    auto *action = new QAction(title, this);
    action->setShortcut(QKeySequence(key));
    action->setToolTip(
        QStringLiteral("%1 (%2)").arg(spoken, action->shortcut().toString(QKeySequence::NativeText)));
    static_cast<QWidget *>(parent())->addAction(action);
    button->setDefaultAction(action);
    button->setAccessibleDescription(action->toolTip());
    connect(action, &QAction::triggered, this, [this, move] { this->move(move); });
    m_moves.append({move, action});
}

QAction *EdgeReview::action(Move move) const
{
    for (const auto &[m, a] : m_moves)
        if (m == move)
            return a;
    return nullptr;
}

double EdgeReview::secondsOf(int frame) const
{
    // The detector counts frames from 1 at the first video frame's time. A
    // quarter frame early lands on the frame whatever the rounding.
    const double fps = double(m_c.fps());
    return fps > 0 ? std::max(0.0, (double(frame) - 1.25) / fps) : -1;
}

void EdgeReview::fillStrip(FrameStrip *strip, const QString &title, int position, const QString &what)
{
    const double fps = double(m_c.fps());
    const std::array<int, review::kStripFrames> frames =
        review::stripFrames(position, fps, m_c.totalRows(), m_c.edgeMarks());
    const QStringList roles{tr("%1 s before").arg(int(EdgeReview::kPlaySeconds)), tr("Last before"),
                            tr("Edge"), tr("First after"),
                            tr("%1 s after").arg(int(EdgeReview::kPlaySeconds))};
    QList<FrameStrip::Panel> panels;
    QList<double> times;
    for (int k = 0; k < review::kStripFrames; ++k) {
        FrameStrip::Panel p;
        p.seconds = secondsOf(frames[size_t(k)]);
        const QString time = breaks::frameTimeText(frames[size_t(k)], m_c.fps());
        p.caption = roles.at(k) + QLatin1Char('\n') + time;
        p.spoken = QStringLiteral("%1: %2, %3").arg(what, roles.at(k).toLower(), time);
        p.edge = k == int(review::StripSlot::Edge);
        panels.append(p);
        times.append(p.seconds);
    }
    strip->setTitle(title);
    strip->setPanels(panels);
    const auto info = m_c.recordingInfo();
    m_preview->setRecording(m_c.movieFile(), info ? info->videoStart : 0.0, m_c.recordingGroupSeconds());
    m_preview->request(times);
}

void EdgeReview::showBreak(int row)
{
    const CommercialList &rows = m_table.rows();
    m_row = row >= 0 && row < rows.size() && m_c.fps() > 0 ? row : -1;
    enableMoves(m_row >= 0);
    if (m_row < 0) {
        m_ui.startStrip->setTitle(tr("Select a break to see the frames at its edges."));
        m_ui.startStrip->setPanels({});
        m_ui.endStrip->clear();
        return;
    }
    const Commercial &c = rows.at(m_row);
    const QString start = tr("Start of break %1").arg(m_row + 1);
    const QString end = tr("End of break %1").arg(m_row + 1);
    // The newest request is made first: the edge the keys move goes last.
    if (m_startEdge) {
        fillStrip(m_ui.endStrip, end, c.end + 1, end);
        fillStrip(m_ui.startStrip, start, c.start, start);
    } else {
        fillStrip(m_ui.startStrip, start, c.start, start);
        fillStrip(m_ui.endStrip, end, c.end + 1, end);
    }
}

void EdgeReview::showFrame(int frame)
{
    if (!(m_c.fps() > 0))
        return;
    const QString around = tr("Around %1").arg(breaks::frameTimeText(frame, m_c.fps()));
    fillStrip(m_ui.startStrip, around, frame, around);
    m_ui.endStrip->clear();
    // The keys move a break's edges; until one is chosen again they rest.
    m_row = -1;
    enableMoves(false);
}

void EdgeReview::enableMoves(bool enabled)
{
    for (const auto &[move, action] : m_moves)
        action->setEnabled(enabled);
    m_play->setEnabled(enabled);
}

void EdgeReview::setStartEdge(bool start)
{
    m_startEdge = start;
    const QSignalBlocker block(m_ui.edgeStartRadio);
    m_ui.edgeStartRadio->setChecked(start);
    m_ui.edgeEndRadio->setChecked(!start);
    m_ui.startStrip->setCurrent(start);
    m_ui.endStrip->setCurrent(!start);
}

int EdgeReview::edgePosition() const
{
    const Commercial &c = m_table.rows().at(m_row);
    return m_startEdge ? c.start : c.end + 1;
}

void EdgeReview::move(Move move)
{
    if (m_row < 0 || m_row >= m_table.rows().size()) {
        say(tr("Select a break to move its edges."));
        return;
    }
    const std::optional<int> to = review::movedEdge(edgePosition(), move, double(m_c.fps()), m_c.edgeMarks());
    if (!to) {
        switch (move) {
        case Move::BlackBack:
            say(tr("No black frame before this edge."));
            break;
        case Move::BlackOn:
            say(tr("No black frame after this edge."));
            break;
        case Move::SceneBack:
            say(tr("No scene change before this edge."));
            break;
        case Move::SceneOn:
            say(tr("No scene change after this edge."));
            break;
        default:
            say(tr("The edge is at the start of the recording."));
        }
        return;
    }
    m_table.moveEdge(m_row, m_startEdge, m_startEdge ? *to : *to - 1);
}

void EdgeReview::play()
{
    if (m_row < 0 || m_row >= m_table.rows().size())
        return;
    QString player = m_c.toolLocator().pathForAuxiliaryExecutable(QStringLiteral("ffplay"));
    if (player.isEmpty()) {
        say(tr("ffplay was not found: install the ffmpeg package to play an edge."));
        return;
    }
    if (m_player->state() != QProcess::NotRunning) {
        m_player->kill();
        m_player->waitForFinished(1000);
    }
    const int position = edgePosition();
    const double from = std::max(0.0, secondsOf(position) - kPlaySeconds);
    const QString what =
        m_startEdge ? tr("Start of break %1").arg(m_row + 1) : tr("End of break %1").arg(m_row + 1);
    m_player->start(player,
                    {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                     QStringLiteral("-autoexit"), QStringLiteral("-ss"), QString::number(from, 'f', 3),
                     QStringLiteral("-t"), QString::number(2 * kPlaySeconds, 'f', 3),
                     QStringLiteral("-window_title"), tr("Trimlet — %1").arg(what),
                     QStringLiteral("file:") + QFileInfo(m_c.movieFile()).absoluteFilePath()});
    say(tr("Playing the seconds around the %1, at %2.")
            .arg(what.toLower(), breaks::frameTimeText(position, m_c.fps())));
}

void EdgeReview::say(const QString &text)
{
    m_ui.mGraphStatusText->setText(text);
}
