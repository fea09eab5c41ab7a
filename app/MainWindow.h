#pragma once

#include "app/AppController.h"
#include "app/RunOptions.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class ProgressIndicator;
class QFileDialog;
class QPushButton;
class QShortcut;
class QueuePanel;
namespace Ui {
class MainWindow;
}

// The main window, made from its definition: it shows what the controller
// holds (status, fields, buttons, progress rows) and hands it what the
// user does: the presses, the output field's text, the check boxes'
// options. Which controls are enabled follows the controller's
// window-state flags. The queue is a panel of it.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // chart: the chart window, which never outlives this one and whose
    // keys approve a queued recording as this window's do.
    MainWindow(AppController &controller, QMainWindow *chart, QWidget *parent = nullptr);
    ~MainWindow() override;

    Ui::MainWindow &ui() const { return *m_ui; }
    QueuePanel &queue() const { return *m_queue; }
    // Made once, before the first combo box: what a screen reader hears of one.
    static void installAccessibleFactories();
    void updateControls();
    // One recording is opened as ever; several, or one more while the
    // queue shows, go to the queue.
    void openRecordings(const QStringList &paths);
    // The open and save panels; cancelled, they change nothing.
    void browseInputFile();
    void browseOutputFile();
    void inputPanelFinished(QFileDialog *panel, int result);
    void outputPanelFinished(QFileDialog *panel, int result);
    // What the check boxes ask of a run; a mixed box counts as off.
    RunOptions runOptions() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    using RunButton = AppController::RunButton;
    using Row = AppController::Row;

    void openPanel(QFileDialog *panel, void (MainWindow::*finished)(QFileDialog *, int));
    QPushButton *runButton(RunButton button) const;
    ProgressIndicator *progressRow(Row row) const;
    void connectButtons();
    void mirrorController();
    void connectRows();
    void nameControls();
    // The labels that show a value are named by it; the run buttons by
    // their title.
    void nameValues();
    void nameRunButton(RunButton button, const QString &title);
    // The queue's headers and every scroll bar, by what they belong to.
    void nameQueueAndScrollBars();
    // The menu item that makes a sample recording and opens it (Sample.cpp).
    void setUpSample();
    void updateTitle();
    // While the queue runs, the progress rows are the whole queue's.
    void showQueueProgress();
    // The output field's label, names and edit rights for the output mode.
    void showOutputMode();
    void showButtonTitles();
    void notifyRunEnded(const QString &outcome);
    // Recordings dropped on the window: true when they are taken.
    bool takesDrop(QDropEvent *event, bool open);

    AppController &m_controller;
    QPointer<QMainWindow> m_chart;
    std::unique_ptr<Ui::MainWindow> m_ui;
    std::unique_ptr<ProgressIndicator> m_detectRow;
    std::unique_ptr<ProgressIndicator> m_removeRow;
    QShortcut *m_stopShortcut = nullptr;
    std::unique_ptr<QueuePanel> m_queue;
    bool m_queueRows = false;
    bool m_queueDetectRow = false;
    bool m_queueCutRow = false;
};
