#pragma once

#include "app/AppController.h"
#include "app/RunOptions.h"

#include <QObject>
#include <QPointer>

#include <memory>

class CommercialTableModel;
class QueuePanel;
class EdgeReview;
class ProgressIndicator;
class QFileDialog;
class QLabel;
class QMainWindow;
class QPushButton;
class QShortcut;
class QUndoStack;
class VideoGraph;
namespace Ui {
class MainWindow;
class GraphWindow;
} // namespace Ui

// The two windows made from their definitions. They show what the
// controller holds (status, fields, buttons, progress rows, the chart) and
// hand it what the user does: the presses, the output field's text, the
// check boxes' options. Which controls are enabled follows the
// controller's window-state flags.
class AppWindows : public QObject
{
    Q_OBJECT
public:
    explicit AppWindows(AppController &controller, QObject *parent = nullptr);
    ~AppWindows() override;

    QMainWindow *mainWindow() const { return m_main; }
    QMainWindow *graphWindow() const { return m_graphWindow; }
    VideoGraph *graph() const { return m_graph; }
    QUndoStack *undoStack() const { return m_undo; }
    EdgeReview *edgeReview() const { return m_review; }
    Ui::MainWindow &ui() const { return *m_ui; }
    Ui::GraphWindow &graphUi() const { return *m_graphUi; }
    QueuePanel &queue() const { return *m_queue; }
    // Brings back the queue kept at path, and keeps it there from now on.
    void restoreQueue(const QString &path);
    void updateControls();
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
    // One recording is opened as ever; several, or one more while the
    // queue shows, go to the queue.
    void openRecordings(const QStringList &paths);
    // The chart's row order, from the settings resource.
    static QStringList labelOrder();
    // The open and save panels; cancelled, they change nothing.
    void browseInputFile();
    void browseOutputFile();
    void inputPanelFinished(QFileDialog *panel, int result);
    void outputPanelFinished(QFileDialog *panel, int result);
    // What the check boxes ask of a run; a mixed box counts as off.
    RunOptions runOptions() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    using RunButton = AppController::RunButton;
    using Row = AppController::Row;

    void openPanel(QFileDialog *panel, void (AppWindows::*finished)(QFileDialog *, int));
    QPushButton *runButton(RunButton button) const;
    ProgressIndicator *progressRow(Row row) const;
    void connectButtons();
    void mirrorController();
    void connectRows();
    void setUpChart();
    void connectChart();
    void showChart();
    void clearChart();
    static void installAccessibleFactories();
    void nameControls();
    // The labels that show a value are named by it; the run buttons by
    // their title.
    void nameValues();
    void nameRunButton(RunButton button, const QString &title);
    void nameChartControls();
    void fitChart();
    void setUpEditing();
    void setUpPreview();
    // The menu item that makes a sample recording and opens it (Sample.cpp).
    void setUpSample();
    void showBoundary(int row);
    void addBreak();
    void updateEmptyTable();
    void updateTitle();
    // While the queue runs, the progress rows are the whole queue's.
    void showQueueProgress();
    // The output field's label, names and edit rights for the output mode.
    void showOutputMode();
    void showButtonTitles();
    void notifyRunEnded(const QString &outcome);
    // The events the windows' filter acts on; true when one is used up.
    bool mainWindowEvent(QEvent *event);
    bool chartEvent(QObject *watched, QEvent *event);

    AppController &m_controller;
    QMainWindow *m_main;
    QMainWindow *m_graphWindow;
    std::unique_ptr<Ui::MainWindow> m_ui;
    std::unique_ptr<Ui::GraphWindow> m_graphUi;
    std::unique_ptr<ProgressIndicator> m_detectRow;
    std::unique_ptr<ProgressIndicator> m_removeRow;
    VideoGraph *m_graph = nullptr;
    QPointer<QWidget> m_viewport;
    CommercialTableModel *m_tableModel = nullptr;
    QShortcut *m_stopShortcut = nullptr;
    QUndoStack *m_undo = nullptr;
    EdgeReview *m_review = nullptr;
    int m_selectedRow = -1;
    QLabel *m_noCommercials = nullptr;
    std::unique_ptr<QueuePanel> m_queue;
    bool m_queueRows = false;
    bool m_queueDetectRow = false;
    bool m_queueCutRow = false;
};
