#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

class AppController;
class CommercialTableModel;
class QMainWindow;
class QShortcut;
class QUndoStack;
class FramePreview;
class VideoGraph;
namespace Ui {
class MainWindow;
class GraphWindow;
} // namespace Ui

// The two windows made from their definitions, with their controls
// connected to the controller as outlets and actions. Which controls are
// enabled follows the controller's window-state flags.
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
    Ui::MainWindow &ui() { return *m_ui; }
    Ui::GraphWindow &graphUi() { return *m_graphUi; }
    void updateControls();
    // "trimlet FILE": FILE is opened as if chosen in the open panel.
    void openFromCommandLine(const QStringList &arguments);
    // The chart's row order, from the settings resource.
    static QStringList labelOrder();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void nameControls();
    void fitChart();
    void setUpEditing();
    void showBoundary(int row);
    void addBreak();
    void updateEmptyTable();
    void updateTitle();
    void notifyRunEnded(const QString &outcome);

    AppController &m_controller;
    QMainWindow *m_main;
    QMainWindow *m_graphWindow;
    std::unique_ptr<Ui::MainWindow> m_ui;
    std::unique_ptr<Ui::GraphWindow> m_graphUi;
    VideoGraph *m_graph = nullptr;
    QPointer<QWidget> m_viewport;
    CommercialTableModel *m_tableModel = nullptr;
    QShortcut *m_stopShortcut = nullptr;
    QUndoStack *m_undo = nullptr;
    FramePreview *m_preview = nullptr;
    int m_selectedRow = -1;
    double m_beforeSeconds = -1;
    double m_firstSeconds = -1;
    class QLabel *m_noCommercials = nullptr;
};
