// What assistive technology announces for the windows' controls, and the
// keys that reach them.

#include "app/AppWindows.h"

#include "chart/VideoGraph.h"
#include "ui_GraphWindow.h"
#include "ui_MainWindow.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QHeaderView>
#include <QMainWindow>
#include <QScrollBar>

namespace {

// What assistive technology announces for a control, and more about it.
struct AccessibleName
{
    QWidget *widget;
    const char *name;
    const char *description = nullptr;
};

void nameAll(std::initializer_list<AccessibleName> names)
{
    for (const AccessibleName &n : names) {
        n.widget->setAccessibleName(QString::fromUtf8(n.name));
        if (n.description)
            n.widget->setAccessibleDescription(QString::fromUtf8(n.description));
    }
}

} // namespace

void AppWindows::nameControls()
{
    Ui::MainWindow &u = *m_ui;
    // Every control by what it is for, not by the title it shares with
    // others ("Run", "Choose…").
    nameAll({
        {u.mInputField, "Recording", "The recording to take the commercials out of"},
        {u.browseInputButton, "Choose recording", "Choose the recording in a file dialog (Ctrl+O)"},
        {u.mRecordingInfoField, "Recording streams", "The recording's video and sound, and its length"},
        {u.mOutputField, "Cut copy", "Where the copy without the commercials is written"},
        {u.browseOutputButton, "Choose cut copy", "Choose where the cut copy goes in a file dialog"},
        {u.mDetectActionButton, "Run detection", "Find the commercials with comskip (Alt+D)"},
        {u.mDetectProgressIndicator, "Detection progress", "How far detection has got"},
        {u.mDetectPercentTextField, "Detection percent", "Detection's progress in percent"},
        {u.mDetectRemainingTextField, "Detection time", "Time left, or time taken, for detection"},
        {u.mRemoveActionButton, "Run removal", "Cut the commercials out into the cut copy (Alt+M)"},
        {u.mRemoveProgressIndicator, "Removal progress", "How far the cut has got"},
        {u.mRemovePercentTextField, "Removal percent", "The cut's progress in percent"},
        {u.mRemoveRemainingTextField, "Removal time", "Time left, or time taken, for the cut"},
        {u.mAutoActionButton, "Run all chosen steps",
         "Run the steps ticked beside it, one after another (Ctrl+R)"},
        {u.mAutoDetect, "Automatic run: detect", "The automatic run detects the commercials"},
        {u.mAutoRemove, "Automatic run: remove", "The automatic run cuts the commercials out"},
        {u.mAutoClean, "Automatic run: erase work files",
         "The automatic run erases the work files at its end"},
        {u.mStatusField, "Status", "What the last run did, or what is running"},
        {u.cleanButton, "Erase work files", "Erase the detector's files beside the recording (Alt+E)"},
        {u.graphButton, "Show chart", "Show what the detector measured, with the commercials (Alt+C)"},
        {u.showCopyButton, "Show cut copy in folder", "Open the folder holding the cut copy"},
        {u.playCopyButton, "Play cut copy", "Play the cut copy with the desktop's video player"},
        {u.mLastCheckedMessage, "Package lists last refreshed", "When the package lists were last refreshed"},
        {u.mRemoveNoSkip, "Copy every frame", "mencoder's -noskip -mc 0"},
        {u.mRemoveEDLSeek, "Precise cut seeking", "mencoder's -hr-edl-seek"},
        {u.filesGroup, "Files", "The recording and its cut copy"},
        {u.stepsGroup, "Steps", "Detection, removal and the automatic run"},
    });
    // Check boxes are named by their own text.
    for (QCheckBox *box : m_main->findChildren<QCheckBox *>())
        if (box->accessibleName().isEmpty())
            box->setAccessibleName(box->text());
    // Mnemonics without touching the titles, which read exactly "Run" and "Stop".
    u.mDetectActionButton->setShortcut(QKeySequence(QStringLiteral("Alt+D")));
    u.mRemoveActionButton->setShortcut(QKeySequence(QStringLiteral("Alt+M")));
    u.cleanButton->setShortcut(QKeySequence(QStringLiteral("Alt+E")));
    u.graphButton->setShortcut(QKeySequence(QStringLiteral("Alt+C")));
    u.browseInputButton->setShortcut(QKeySequence::Open);
    u.mAutoActionButton->setShortcut(QKeySequence(QStringLiteral("Ctrl+R")));
    u.inputLabel->setBuddy(u.mInputField);
    u.outputLabel->setBuddy(u.mOutputField);
}

void AppWindows::nameChartControls()
{
    Ui::GraphWindow &g = *m_graphUi;
    nameAll({
        {g.mGraphFileText, "Charted recording", "The recording whose detection data is shown"},
        {g.mGraphProgressIndicator, "Chart progress", "Busy while the chart is drawn"},
        {g.graphScrollArea, "Detection chart",
         "What the detector measured frame by frame, with the commercials over it"},
        {m_graph, "Detection chart",
         "What the detector measured frame by frame, with the commercials over it"},
        {g.mCommercialTable, "Commercials", "The commercials found, with their start, end and length"},
        {g.mShowLengthOld, "Length with commercials", "The programme's length before cutting"},
        {g.mShowLengthNew, "Length without commercials", "The programme's length after cutting"},
        {g.mZoomSlider, "Zoom", "How far the chart is stretched in time"},
        {g.mGraphStatusText, "Chart status", "What the chart shows"},
        {g.addBreakButton, "Add break"},
        {g.deleteBreakButton, "Delete break"},
        {g.undoButton, "Undo"},
        {g.redoButton, "Redo"},
        {g.revertButton, "Revert to detection"},
        {g.edgeStartRadio, "Start edge", "The keys and buttons move the start of the selected break"},
        {g.edgeEndRadio, "End edge", "The keys and buttons move the end of the selected break"},
    });
    for (QHeaderView *header : m_graphWindow->findChildren<QHeaderView *>())
        header->setAccessibleName(header->orientation() == Qt::Horizontal
                                      ? QStringLiteral("Commercials: column headers")
                                      : QStringLiteral("Commercials: row headers"));
    for (QAbstractButton *corner : g.mCommercialTable->findChildren<QAbstractButton *>())
        corner->setAccessibleName(QStringLiteral("Commercials: select all"));
    // Scroll bars are named after what they scroll.
    for (QWidget *window : {static_cast<QWidget *>(m_main), static_cast<QWidget *>(m_graphWindow)})
        for (QScrollBar *bar : window->findChildren<QScrollBar *>()) {
            QWidget *owner = bar->parentWidget();
            while (owner && owner->accessibleName().isEmpty())
                owner = owner->parentWidget();
            const QString what = owner ? owner->accessibleName() : QStringLiteral("View");
            bar->setAccessibleName(what
                                   + (bar->orientation() == Qt::Horizontal
                                          ? QStringLiteral(": horizontal scroll bar")
                                          : QStringLiteral(": vertical scroll bar")));
        }
}
