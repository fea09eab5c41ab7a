#include "progress/ProgressIndicator.h"

#include "core/TimeText.h"

#include <QDateTime>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>
#include <cmath>

namespace {

double wallClock()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

} // namespace

ProgressIndicator::ProgressIndicator(QProgressBar *indicator, QLabel *percent, QLabel *remaining, Clock clock)
    : m_progressIndicator(indicator),
      m_percentTextField(percent),
      m_remainingTextField(remaining),
      m_clock(clock ? std::move(clock) : Clock(wallClock))
{
    if (indicator && indicator->maximum() > indicator->minimum()) {
        m_minimum = indicator->minimum();
        m_maximum = indicator->maximum();
    }
}

bool ProgressIndicator::isBusy() const
{
    return m_progressIndicator && m_progressIndicator->minimum() == 0 && m_progressIndicator->maximum() == 0;
}

void ProgressIndicator::setBusy(bool busy)
{
    if (!m_progressIndicator)
        return;
    if (busy)
        m_progressIndicator->setRange(0, 0);
    else
        m_progressIndicator->setRange(m_minimum, m_maximum);
}

void ProgressIndicator::setPercentField(std::optional<float> fraction)
{
    m_percentValue = fraction;
    if (!m_percentTextField)
        return;
    if (!fraction || !std::isfinite(*fraction))
        m_percentTextField->clear();
    else
        m_percentTextField->setText(QString::number(double(*fraction) * 100.0, 'f', 0) + QLatin1Char('%'));
}

double ProgressIndicator::elapsedSince(const std::optional<double> &moment) const
{
    if (!moment)
        return 0.0;
    const double interval = *moment - m_clock();
    if (!std::isfinite(interval))
        return 0.0;
    return std::fabs(std::trunc(interval));
}

void ProgressIndicator::start()
{
    setBusy(true);
    if (m_progressIndicator)
        m_progressIndicator->setValue(m_minimum);
    m_startTime = m_clock();
    m_lastStartTime = m_startTime;
    m_pass = 1;
    m_passStartPercent = 0;
    m_lastPercent.reset();
}

QString ProgressIndicator::passSuffix() const
{
    return m_pass > 1 ? QStringLiteral(" (pass %1)").arg(m_pass) : QString();
}

void ProgressIndicator::setPercent(double p)
{
    // A tool that reads its input twice (comskip, once it has found the
    // logo) starts again from a lower figure: that is a new pass, and the
    // estimate is built on the new pass's own rate.
    if (std::isfinite(p) && p > 0 && m_lastPercent && p < *m_lastPercent - 0.5 && m_startTime) {
        ++m_pass;
        m_lastStartTime = m_clock();
        m_passStartPercent = std::max(0.0, p);
        if (m_remainingTextField)
            m_remainingTextField->setText(QStringLiteral("pass %1").arg(m_pass));
    }
    if (std::isfinite(p))
        m_lastPercent = p;
    if (p > 0) {
        setBusy(false);
        if (m_progressIndicator && std::isfinite(p))
            m_progressIndicator->setValue(int(qBound(-1.0e9, std::round(p), 1.0e9)));
        const double e = elapsedSince(m_lastStartTime);
        const double done = p - m_passStartPercent;
        const double r = done > 0 ? e * (100.0 - p) / done : 0.0;
        if (r > 0 && e > 5.0 && m_remainingTextField)
            m_remainingTextField->setText(formatTime(r) + QStringLiteral(" remaining") + passSuffix());
        setPercentField(float(p / 100.0));
    } else {
        setBusy(true);
        m_lastStartTime = m_clock();
        m_passStartPercent = 0;
        setPercentField(std::nullopt);
    }
}

void ProgressIndicator::fail()
{
    // The bar stays where the tool got to: a full bar would read as done.
    setBusy(false);
    if (m_progressIndicator)
        m_progressIndicator->setValue(m_lastPercent && *m_lastPercent > 0 ? int(qBound(
                                          double(m_minimum), std::round(*m_lastPercent), double(m_maximum)))
                                                                          : m_minimum);
    setPercentField(std::nullopt);
    const double e = elapsedSince(m_startTime);
    if (m_remainingTextField)
        m_remainingTextField->setText(QStringLiteral("failed after ") + formatTime(e));
    if (m_progressIndicator)
        m_progressIndicator->setToolTip(QStringLiteral("This step failed; the status line says why."));
}

void ProgressIndicator::stop()
{
    setBusy(false);
    if (m_progressIndicator)
        m_progressIndicator->setToolTip(QString());
    if (m_progressIndicator)
        m_progressIndicator->setValue(m_maximum);
    setPercentField(std::nullopt);
    const double e = elapsedSince(m_startTime);
    if (m_remainingTextField)
        m_remainingTextField->setText(formatTime(e) + QStringLiteral(" elapsed"));
}

void ProgressIndicator::clear()
{
    setBusy(false);
    if (m_progressIndicator)
        m_progressIndicator->setValue(m_minimum);
    setPercentField(std::nullopt);
    if (m_remainingTextField)
        m_remainingTextField->setText(QString());
    m_startTime.reset();
    m_lastStartTime.reset();
    m_lastPercent.reset();
    m_pass = 1;
    m_passStartPercent = 0;
    if (m_progressIndicator)
        m_progressIndicator->setToolTip(QString());
}

QString ProgressIndicator::formatTime(double t)
{
    return timeText(t, false);
}
