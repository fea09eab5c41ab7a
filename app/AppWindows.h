#pragma once

#include "app/AppController.h"
#include "app/ChartWindow.h"
#include "app/MainWindow.h"

#include <QObject>

#include <memory>

class QueuePanel;
namespace Ui {
class MainWindow;
class GraphWindow;
} // namespace Ui

// The application's two windows, as main() makes them: the main window and
// the chart window it brings forward, and what reaches the application from
// outside them (its command line, a second trimlet's recordings).
class AppWindows : public QObject
{
    Q_OBJECT
public:
    explicit AppWindows(AppController &controller, QObject *parent = nullptr);
    ~AppWindows() override;

    MainWindow *mainWindow() const { return m_main.get(); }
    ChartWindow *graphWindow() const { return m_chart.get(); }
    VideoGraph *graph() const { return m_chart->graph(); }
    QUndoStack *undoStack() const { return m_chart->undoStack(); }
    EdgeReview *edgeReview() const { return m_chart->edgeReview(); }
    Ui::MainWindow &ui() const { return m_main->ui(); }
    Ui::GraphWindow &graphUi() const { return m_chart->ui(); }
    QueuePanel &queue() const { return m_main->queue(); }
    // Brings back the queue kept at path, and keeps it there from now on.
    void restoreQueue(const QString &path);
    // "trimlet FILE": FILE is opened as if chosen in the open panel;
    // several files become rows of the queue.
    void openFromCommandLine(const QStringList &arguments);
    // The recordings a command line names, and whether it asks for the
    // sample ("--sample").
    static QStringList recordingsNamed(const QStringList &arguments);
    static bool sampleAskedFor(const QStringList &arguments);
    // What a second trimlet handed over: the window comes to the front,
    // and the recordings are opened as if dropped on it; while a run of
    // the window's own is under way they go to the queue.
    void openHandedOver(const QStringList &paths, bool sample);
    void openRecordings(const QStringList &paths) { m_main->openRecordings(paths); }
    void inputPanelFinished(QFileDialog *panel, int result) { m_main->inputPanelFinished(panel, result); }
    void outputPanelFinished(QFileDialog *panel, int result) { m_main->outputPanelFinished(panel, result); }

private:
    AppController &m_controller;
    // The chart window goes first: the main one closes it as it goes.
    std::unique_ptr<ChartWindow> m_chart;
    std::unique_ptr<MainWindow> m_main;
};
