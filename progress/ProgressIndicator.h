#pragma once

#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QLabel;
class QProgressBar;

// One progress row of the main window: a bar, a percent field and a time
// field that reads "... remaining" while a tool runs and "... elapsed" once
// it has finished. It only reacts to start, setPercent, stop and clear.
class ProgressIndicator
{
public:
    // Wall-clock seconds; tests pass their own clock.
    using Clock = std::function<double()>;

    ProgressIndicator(QProgressBar *indicator, QLabel *percent, QLabel *remaining, Clock clock = {});

    void start();
    void setPercent(double percent);
    void stop();
    // The step ended in failure: the row says so instead of filling up.
    void fail();
    void clear();
    // 1 for the tool's first pass over its input, 2 once it started over.
    int pass() const { return m_pass; }

    // "%02d:%02d" with "%d:" hours in front when there is a whole hour.
    static QString formatTime(double seconds);

    // The fraction the percent field shows (p / 100), none when blank.
    std::optional<float> percentValue() const { return m_percentValue; }
    bool isBusy() const;

private:
    double elapsedSince(const std::optional<double> &moment) const;
    void setBusy(bool busy);
    void setPercentField(std::optional<float> fraction);
    QString passSuffix() const;

    QPointer<QProgressBar> m_progressIndicator;
    QPointer<QLabel> m_percentTextField;
    QPointer<QLabel> m_remainingTextField;
    std::optional<double> m_startTime;
    std::optional<double> m_lastStartTime;
    std::optional<float> m_percentValue;
    std::optional<double> m_lastPercent;
    double m_passStartPercent = 0;
    int m_pass = 1;
    Clock m_clock;
    // Qt shows a busy bar as the range 0..0, so the bar's own range from
    // the window is kept to come back to.
    int m_minimum = 0;
    int m_maximum = 100;
};
