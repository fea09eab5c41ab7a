#pragma once

#include "app/EndSound.h"
#include "app/ResultParsers.h"
#include "app/ToolLocator.h"
#include "app/Updater.h"
#include "chart/Commercial.h"
#include "process/TaskWrapper.h"

#include <QFile>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

#include <memory>

class QCheckBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class ProgressIndicator;
class VideoGraph;

// The run log's file name, beside the recording.
extern const QString logFileName;

// The one controller of the application: it owns the job's state, starts
// the tools, reads their results and hands them to the chart. It draws
// nothing; the windows' controls are its outlets.
class AppController : public QObject, public TaskWrapperController, public UpdaterDelegate
{
    Q_OBJECT
    Q_PROPERTY(bool haveInput READ haveInput WRITE setHaveInput NOTIFY haveInputChanged)
    Q_PROPERTY(bool haveResults READ haveResults WRITE setHaveResults NOTIFY haveResultsChanged)
    Q_PROPERTY(bool haveCommercials READ haveCommercials WRITE setHaveCommercials NOTIFY haveCommercialsChanged)
    Q_PROPERTY(bool isRunning READ isRunning WRITE setIsRunning NOTIFY isRunningChanged)
    Q_PROPERTY(bool isRunningAuto READ isRunningAuto WRITE setIsRunningAuto NOTIFY isRunningAutoChanged)

public:
    enum ProcessState : qint32 {
        kStateIdle = 0,
        kStateStart = 1,
        kStateDetecting = 2,
        kStateAfterDetect = 3,
        kStateRemoving = 4,
        kStateAfterRemove = 5,
        kStateCleaning = 6,
        kStateFinished = 7,
    };
    // What a Run/Stop button does when pressed.
    enum class Action { AutoStart, DetectStart, RemoveStart, AutoStop, DetectStop, RemoveStop };

    static constexpr int kMaxChartPoints = results::kMaxChartPoints;
    static constexpr int kMinCommercialFrames = results::kMinCommercialFrames;
    static constexpr int kMaxDataCols = results::kMaxDataCols;

    explicit AppController(QObject *parent = nullptr);
    ~AppController() override;

    // Window outlets, connected by the window set-up before awakeFromNib.
    QPointer<VideoGraph> graph;
    QPointer<QWidget> mMainWindow;
    QPointer<QWidget> mGraphWindow;
    QPointer<QLineEdit> mInputField;
    QPointer<QLineEdit> mOutputField;
    QPointer<QPushButton> mDetectActionButton;
    QPointer<QProgressBar> mDetectProgressIndicator;
    QPointer<QLabel> mDetectPercentTextField;
    QPointer<QLabel> mDetectRemainingTextField;
    QPointer<QPushButton> mRemoveActionButton;
    QPointer<QProgressBar> mRemoveProgressIndicator;
    QPointer<QLabel> mRemovePercentTextField;
    QPointer<QLabel> mRemoveRemainingTextField;
    QPointer<QPushButton> mAutoActionButton;
    QPointer<QLabel> mStatusField;
    QPointer<QCheckBox> mDetectBlackFrame;
    QPointer<QCheckBox> mDetectStationLogo;
    QPointer<QCheckBox> mDetectSceneChange;
    QPointer<QCheckBox> mDetectResolutionChange;
    QPointer<QCheckBox> mDetectClosedCaptions;
    QPointer<QCheckBox> mDetectAspectRatio;
    QPointer<QCheckBox> mDetectSilence;
    QPointer<QCheckBox> mDetectCutscenes;
    QPointer<QCheckBox> mOptionHasTickertape;
    QPointer<QCheckBox> mOptionDeleteBefore;
    QPointer<QCheckBox> mOptionDeleteAfter;
    QPointer<QCheckBox> mOptionLogoAtBottom;
    QPointer<QCheckBox> mRemoveNoSkip;
    QPointer<QCheckBox> mRemoveEDLSeek;
    QPointer<QCheckBox> mAutoDetect;
    QPointer<QCheckBox> mAutoRemove;
    QPointer<QCheckBox> mAutoClean;
    QPointer<QLabel> mLastCheckedMessage;

    // ---- start-up and file selection
    void awakeFromNib();
    void browseInputFile(QObject *sender);
    void browseInputFilePanelDidEnd(QFileDialog *panel, int returnCode, void *contextInfo);
    void browseOutputFile(QObject *sender);
    void browseOutputFilePanelDidEnd(QFileDialog *panel, int returnCode, void *contextInfo);
    // Takes path as if it had been chosen in the open panel.
    void openRecording(const QString &path);
    QString outputDir() const;
    void setLastCheckedDate();
    void updaterDidFindValidUpdate(Updater *updater, const QString &update) override;
    void updaterDidNotFindUpdate(Updater *updater) override;
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

    // ---- pipeline actions
    void autoStart(QObject *sender);
    void detectStart(QObject *sender);
    void removeStart(QObject *sender);
    void autoStop(QObject *sender);
    void detectStop(QObject *sender);
    void removeStop(QObject *sender);
    void clean(QObject *sender);
    void setIdle();
    void runTasks();
    void detectCommercials();
    // False when the removal could not be started and was skipped.
    bool removeCommercials();
    void runWithProgressCommand(const QStringList &arguments);
    void performButtonAction(QPushButton *button);
    Action buttonAction(const QPushButton *button) const;

    // ---- runner callbacks
    void processStarted() override;
    void appendOutput(const QString &output) override;
    void processFinished(int status) override;

    // ---- tool contract
    QStringList detectArguments() const;
    QStringList removeArguments() const;
    ToolLocator &toolLocator() { return m_toolLocator; }

    // ---- settings and ini file
    bool loadDetectionSettings(const QString &resourcePath);
    void writeIniFile();
    int detectMethodMask() const;
    QVariantMap iniFileData;

    // ---- run log
    void openLogFile();
    void closeLogFile();
    QString logExcerpts;

    // ---- results
    int readTXTData();
    bool haveCSVData();
    int readEDLData();
    int readCSVData();
    void clearGraphData();
    int loadData();
    void makeChart();
    void graphAction(QObject *sender);

    // ---- window-state flags
    bool haveInput() const { return m_haveInput; }
    bool haveResults() const { return m_haveResults; }
    bool haveCommercials() const { return m_haveCommercials; }
    bool isRunning() const { return m_isRunning; }
    bool isRunningAuto() const { return m_isRunningAuto; }
    void setHaveInput(bool value);
    void setHaveResults(bool value);
    void setHaveCommercials(bool value);
    void setIsRunning(bool value);
    void setIsRunningAuto(bool value);

    // ---- state, readable by the windows and tests
    TaskWrapper *runner() const { return m_runner.get(); }
    ProgressIndicator *detectIndicator() const { return m_detectIndicator.get(); }
    ProgressIndicator *removeIndicator() const { return m_removeIndicator.get(); }
    ProgressIndicator *activeProgressIndicator() const { return m_activeProgressIndicator; }
    void setActiveProgressIndicator(ProgressIndicator *row) { m_activeProgressIndicator = row; }
    bool logFileOpen() const { return m_logFile.isOpen(); }
    qint32 processState = kStateIdle;
    bool runDetect = false;
    bool runRemove = false;
    bool runClean = false;
    QString movieFile;
    QString outDir;
    QString baseName;
    int *aiVideoData = nullptr;
    int aiValueRange[kMaxDataCols * 2] = {};
    SharedCommercials commercials;
    qint32 commercialsFound = 0;
    QStringList labels;
    qint32 totalRows = 0;
    float chunkSize = 0.0f;
    qint32 pointCount = 0;
    float fps = 0.0f;
    EndSound &endSound() { return m_endSound; }
    // Bounds handed to every runner (grace before SIGKILL, whole drain).
    void setStopBounds(int graceMs, int drainMs);

signals:
    void haveInputChanged(bool);
    void haveResultsChanged(bool);
    void haveCommercialsChanged(bool);
    void isRunningChanged(bool);
    void isRunningAutoChanged(bool);
    // A Run/Stop button changed its title.
    void buttonsChanged();

private:
    QString workFile(const QString &extension) const;
    void setStatus(const QString &text);
    void setButton(QPushButton *button, const QString &title, Action action);
    void beginRun(QPushButton *button, Action stopAction, bool detect, bool remove, bool erase,
                  bool automatic);
    void detectionFinished(int rc);
    bool outputIsInput() const;

    QFile m_logFile;
    std::unique_ptr<TaskWrapper> m_runner;
    std::unique_ptr<ProgressIndicator> m_detectIndicator;
    std::unique_ptr<ProgressIndicator> m_removeIndicator;
    ProgressIndicator *m_activeProgressIndicator = nullptr;
    bool m_haveInput = false;
    bool m_haveResults = false;
    bool m_haveCommercials = false;
    bool m_isRunning = false;
    bool m_isRunningAuto = false;
    Action m_autoAction = Action::AutoStart;
    Action m_detectAction = Action::DetectStart;
    Action m_removeAction = Action::RemoveStart;
    ToolLocator m_toolLocator;
    EndSound m_endSound;
    int m_graceMs = 1000;
    int m_drainMs = 3000;
};
