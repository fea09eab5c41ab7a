#pragma once

#include <QMainWindow>
#include <QPointer>

#include <memory>

class AppController;
class CommercialTableModel;
class EdgeReview;
class QAction;
class QLabel;
class QUndoStack;
class VideoGraph;
namespace Ui {
class GraphWindow;
}

// The chart window, made from its definition: the chart and the table of
// breaks with the controller's results handed to them, the lengths before
// and after the cut, and the user's corrections of the breaks with the
// frames either side of one. Its controls are its own: the chart emits what
// they show.
class ChartWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit ChartWindow(AppController &controller, QWidget *parent = nullptr);
    ~ChartWindow() override;

    Ui::GraphWindow &ui() const { return *m_ui; }
    VideoGraph *graph() const { return m_graph; }
    QUndoStack *undoStack() const { return m_undo; }
    EdgeReview *edgeReview() const { return m_review; }
    // The chart's row order, from the settings resource.
    static QStringList labelOrder();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setUpChart();
    void connectChart();
    void showChart();
    void clearChart();
    void nameControls();
    void fitChart();
    void createActions();
    void setUpEditing();
    void setUpPreview();
    void showBoundary(int row);
    void addBreak();
    void updateEmptyTable();

    AppController &m_controller;
    std::unique_ptr<Ui::GraphWindow> m_ui;
    VideoGraph *m_graph = nullptr;
    QPointer<QWidget> m_viewport;
    CommercialTableModel *m_tableModel = nullptr;
    QUndoStack *m_undo = nullptr;
    QAction *m_undoAction = nullptr;
    QAction *m_redoAction = nullptr;
    EdgeReview *m_review = nullptr;
    int m_selectedRow = -1;
    QLabel *m_noCommercials = nullptr;
};
