// What assistive technology announces for the windows' controls, and the
// keys that reach them.

#include "app/ChartWindow.h"
#include "app/MainWindow.h"

#include "chart/VideoGraph.h"
#include "ui_GraphWindow.h"
#include "ui_MainWindow.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>

namespace {

// What assistive technology announces for a control, and more about it.
// A control without a name here is named by what it shows.
struct AccessibleName
{
    QWidget *widget;
    const char *name;
    const char *description = nullptr;
};

void nameAll(std::initializer_list<AccessibleName> names)
{
    for (const AccessibleName &n : names) {
        if (n.name)
            n.widget->setAccessibleName(QString::fromUtf8(n.name));
        if (n.description)
            n.widget->setAccessibleDescription(QString::fromUtf8(n.description));
    }
}

// Qt announces every name set (NameChanged), the same one again too: a
// screen reader following the control would hear it twice.
void setName(QWidget *widget, const QString &name)
{
    if (widget->accessibleName() != name)
        widget->setAccessibleName(name);
}

// Scroll bars are named after what they scroll.
void nameScrollBars(QWidget *window)
{
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

// Qt reads a combo box on Linux by the item it shows and passes over the
// name it was given ("on Linux we use relations for this"): the Output
// choice would be heard as "Cut copy", the name of the field beside it.
// Qt's own interface for it is private, so this one stands in for it: the
// name is the box's own, the item shown is its value, and the list opens
// as Qt's opens it.
class NamedComboBox : public QAccessibleWidget
{
public:
    explicit NamedComboBox(QComboBox *box) : QAccessibleWidget(box, QAccessible::ComboBox) { }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && !box()->accessibleName().isEmpty())
            return box()->accessibleName();
        if (t == QAccessible::Name || t == QAccessible::Value)
            return box()->currentText();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return 1; }
    QAccessibleInterface *child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && child->object() == box()->view() ? 0 : -1;
    }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = box()->view()->isVisible();
        s.editable = box()->isEditable();
        return s;
    }
    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString &action) override
    {
        if (action != showMenuAction() && action != pressAction())
            return;
        if (box()->view()->isVisible())
            box()->hidePopup();
        else
            box()->showPopup();
    }

private:
    QComboBox *box() const { return static_cast<QComboBox *>(widget()); }
};

QAccessibleInterface *namedComboBoxes(const QString &className, QObject *object)
{
    auto *box = className == QLatin1String("QComboBox") ? qobject_cast<QComboBox *>(object) : nullptr;
    return box && !box->isEditable() ? new NamedComboBox(box) : nullptr;
}

} // namespace

void MainWindow::installAccessibleFactories()
{
    // Before any box is made: Qt makes a widget's interface the first time
    // anything about it changes, and keeps it.
    QAccessible::installFactory(namedComboBoxes);
}

void MainWindow::nameControls()
{
    Ui::MainWindow &u = *m_ui;
    // Every control by what it is for, not by the title it shares with
    // others ("Choose…"); the run buttons by their title and what they
    // run, the labels that show a value by that value (nameValues).
    nameAll({
        {u.mInputField, "Recording", "The recording to take the commercials out of"},
        {u.browseInputButton, "Choose recording", "Choose the recording in a file dialog (Ctrl+O)"},
        {u.mRecordingInfoField, nullptr, "The recording's video and sound, and its length"},
        // The output field and its button are named for the output mode
        // (showOutputMode).
        {u.outputModeCombo, "Output",
         "What removal leaves: a copy without the breaks, the whole recording with a chapter at each, or "
         "a list of them for a player to skip"},
        {u.mDetectActionButton, nullptr, "Find the commercials with comskip (Alt+D)"},
        {u.mDetectProgressIndicator, "Detection progress", "How far detection has got"},
        {u.mDetectPercentTextField, nullptr, "Detection's progress in percent"},
        {u.mDetectRemainingTextField, nullptr, "Time left, or time taken, for detection"},
        {u.mRemoveActionButton, nullptr, "Cut the commercials out into the cut copy (Alt+M)"},
        {u.mRemoveProgressIndicator, "Removal progress", "How far the cut has got"},
        {u.mRemovePercentTextField, nullptr, "The cut's progress in percent"},
        {u.mRemoveRemainingTextField, nullptr, "Time left, or time taken, for the cut"},
        {u.mAutoActionButton, nullptr, "Run the steps ticked beside it, one after another (Ctrl+R)"},
        {u.mAutoDetect, "Automatic run: detect", "The automatic run detects the commercials"},
        {u.mAutoRemove, "Automatic run: remove", "The automatic run cuts the commercials out"},
        {u.mAutoClean, "Automatic run: erase work files",
         "The automatic run erases the work files at its end"},
        {u.mStatusField, nullptr, "What the last run did, or what is running"},
        {u.cleanButton, "Erase work files", "Erase the detector's files beside the recording (Alt+E)"},
        {u.graphButton, "Show chart", "Show what the detector measured, with the commercials (Alt+C)"},
        {u.showCopyButton, "Show cut copy in folder", "Open the folder holding the cut copy"},
        {u.mQueueTable, "Queue",
         "The recordings queued, with their length, profile and state; F2 changes a waiting one's profile"},
        {u.mReviewButton, "Review", "Show the selected recording's breaks in the chart window (Alt+R)"},
        {u.mApproveButton, "Approve", "Send the selected recording's breaks to cutting (Ctrl+Return)"},
        {u.mNextReviewButton, "Next for review", "Review the next recording that waits for review (F8)"},
        {u.mRemoveFromQueueButton, "Remove from queue", "Take the selected recording out of the queue"},
        {u.mShowQueueCopyButton, "Show copy", "Open the folder holding the selected recording's copy"},
        {u.mDetectAllButton, nullptr, "Detect the commercials of every recording waiting in the queue"},
        {u.mCutWithoutReview, "Cut without review", "Cut each recording as soon as it is detected"},
        {u.mCutAllApprovedButton, "Cut all approved", "Cut every approved recording, one after another"},
        {u.mQueueStatusField, nullptr, "How far the queue has got"},
        {u.playCopyButton, "Play cut copy", "Play the cut copy with the desktop's video player"},
        {u.mLastCheckedMessage, nullptr, "When the package lists were last refreshed"},
        {u.mRemoveNoSkip, "Copy every frame", "mencoder's -noskip -mc 0"},
        {u.mProfileCombo, "Profile", "The named detector settings laid over these options for each run"},
        {u.mRemoveEDLSeek, "Precise cut seeking", "mencoder's -hr-edl-seek"},
        {u.filesGroup, "Files", "The recording and its cut copy"},
        {u.stepsGroup, "Steps", "Detection, removal and the automatic run"},
    });
    // Check boxes are named by their own text.
    for (QCheckBox *box : findChildren<QCheckBox *>())
        if (box->accessibleName().isEmpty())
            box->setAccessibleName(box->text());
    // Mnemonics without touching the titles, which read exactly "Run" and "Stop".
    u.mDetectActionButton->setShortcut(QKeySequence(QStringLiteral("Alt+D")));
    u.mRemoveActionButton->setShortcut(QKeySequence(QStringLiteral("Alt+M")));
    u.cleanButton->setShortcut(QKeySequence(QStringLiteral("Alt+E")));
    u.graphButton->setShortcut(QKeySequence(QStringLiteral("Alt+C")));
    u.browseInputButton->setShortcut(QKeySequence::Open);
    u.mAutoActionButton->setShortcut(QKeySequence(QStringLiteral("Ctrl+R")));
    // A label beside a control names it for assistive technology too.
    u.inputLabel->setBuddy(u.mInputField);
    u.outputLabel->setBuddy(u.mOutputField);
    u.outputModeLabel->setBuddy(u.outputModeCombo);
    u.profileLabel->setBuddy(u.mProfileCombo);
    u.detectStepLabel->setBuddy(u.mDetectActionButton);
    u.removeStepLabel->setBuddy(u.mRemoveActionButton);
    u.autoLabel->setBuddy(u.mAutoActionButton);
    u.lastCheckedLabel->setBuddy(u.mLastCheckedMessage);

    // A QLabel tells no one that its text changed: setText is not virtual,
    // sends no event a filter or a subclass could catch, and clear() does
    // not even tell assistive technology. So the value labels' names are
    // brought up to date after each of the controller's changes that
    // reaches them, the progress rows' included; the windows' own handlers,
    // connected before these, have set the texts by then.
    AppController &c = m_controller;
    connect(&c, &AppController::statusChanged, this, &MainWindow::nameValues);
    connect(&c, &AppController::recordingInfoTextChanged, this, &MainWindow::nameValues);
    connect(&c, &AppController::lastCheckedChanged, this, &MainWindow::nameValues);
    connect(&c, &AppController::rowCleared, this, &MainWindow::nameValues);
    connect(&c, &AppController::rowStarted, this, &MainWindow::nameValues);
    connect(&c, &AppController::rowProgress, this, &MainWindow::nameValues);
    connect(&c, &AppController::rowFinished, this, &MainWindow::nameValues);
    nameValues();
}

void MainWindow::nameValues()
{
    Ui::MainWindow &u = *m_ui;
    // Qt would read a label's text alone, and nothing at all while it is
    // blank: "what: value" says what a bare "38%" is, and a blank one is
    // still found by what it is.
    const std::pair<QLabel *, const char *> values[] = {
        {u.mRecordingInfoField, "Recording streams"},
        {u.mDetectPercentTextField, "Detection percent"},
        {u.mDetectRemainingTextField, "Detection time"},
        {u.mRemovePercentTextField, "Removal percent"},
        {u.mRemoveRemainingTextField, "Removal time"},
        {u.mStatusField, "Status"},
        {u.mQueueStatusField, "Queue"},
        {u.mLastCheckedMessage, "Package lists last refreshed"},
    };
    for (const auto &[label, what] : values) {
        const QString text = label->text();
        const QString name = QString::fromUtf8(what);
        setName(label, text.trimmed().isEmpty() ? name : name + QStringLiteral(": ") + text);
    }
}

void MainWindow::nameRunButton(RunButton button, const QString &title)
{
    // The title first, as it reads ("Run", "Stop"), then what it runs.
    const char *what = "removal";
    if (button == RunButton::Auto)
        what = "all chosen steps";
    else if (button == RunButton::Detect)
        what = "detection";
    setName(runButton(button), title + QLatin1Char(' ') + QString::fromUtf8(what));
}

void MainWindow::nameQueueAndScrollBars()
{
    for (QHeaderView *header : m_ui->mQueueTable->findChildren<QHeaderView *>())
        header->setAccessibleName(header->orientation() == Qt::Horizontal
                                      ? QStringLiteral("Queue: column headers")
                                      : QStringLiteral("Queue: row headers"));
    for (QAbstractButton *corner : m_ui->mQueueTable->findChildren<QAbstractButton *>())
        corner->setAccessibleName(QStringLiteral("Queue: select all"));
    nameScrollBars(this);
}

void ChartWindow::nameControls()
{
    Ui::GraphWindow &g = *m_ui;
    nameAll({
        // The labels that show a value are read as they show it: Qt names a
        // label by its text while it has no name of its own, and announces
        // each new text.
        {g.mGraphFileText, nullptr, "The recording whose detection data is shown"},
        {g.mGraphProgressIndicator, "Chart progress", "Busy while the chart is drawn"},
        {g.graphScrollArea, "Detection chart",
         "What the detector measured frame by frame, with the commercials over it"},
        {m_graph, "Detection chart",
         "What the detector measured frame by frame, with the commercials over it"},
        {g.mCommercialTable, "Commercials", "The commercials found, with their start, end and length"},
        {g.mShowLengthOld, nullptr, "The programme's length before cutting"},
        {g.mShowLengthNew, nullptr, "The programme's length after cutting"},
        {g.mZoomSlider, "Zoom", "How far the chart is stretched in time"},
        {g.mGraphStatusText, nullptr, "What the chart shows, or why an edit was refused"},
        {g.addBreakButton, "Add break"},
        {g.deleteBreakButton, "Delete break"},
        {g.undoButton, "Undo"},
        {g.redoButton, "Redo"},
        {g.revertButton, "Revert to detection"},
        {g.edgeStartRadio, "Start edge", "The keys and buttons move the start of the selected break"},
        {g.edgeEndRadio, "End edge", "The keys and buttons move the end of the selected break"},
    });
    g.showLengthOldLabel->setBuddy(g.mShowLengthOld);
    g.showLengthNewLabel->setBuddy(g.mShowLengthNew);
    g.zoomLabel->setBuddy(g.mZoomSlider);
    for (QHeaderView *header : findChildren<QHeaderView *>())
        header->setAccessibleName(header->orientation() == Qt::Horizontal
                                      ? QStringLiteral("Commercials: column headers")
                                      : QStringLiteral("Commercials: row headers"));
    for (QAbstractButton *corner : g.mCommercialTable->findChildren<QAbstractButton *>())
        corner->setAccessibleName(QStringLiteral("Commercials: select all"));
    nameScrollBars(this);
}
