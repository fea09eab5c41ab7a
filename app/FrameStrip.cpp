#include "app/FrameStrip.h"

#include "core/EdgeMarks.h"

#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>

#include <cmath>

namespace {
constexpr QSize kPanel(160, 90);

bool sameTime(double a, double b)
{
    return std::llround(a * 1000.0) == std::llround(b * 1000.0);
}
} // namespace

FrameStrip::FrameStrip(QWidget *parent) : QWidget(parent), m_title(new QLabel(this))
{
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(2);
    grid->addWidget(m_title, 0, 0, 1, review::kStripFrames);
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    for (int k = 0; k < review::kStripFrames; ++k) {
        auto *view = new QLabel(this);
        // Room for the picture and the edge's frame round it, no more, so
        // the frame hugs the picture however wide the window is.
        view->setFixedSize(kPanel + QSize(4, 4));
        view->setAlignment(Qt::AlignCenter);
        view->setFrameShape(QFrame::Box);
        view->setLineWidth(0);
        auto *caption = new QLabel(this);
        caption->setAlignment(Qt::AlignCenter);
        grid->addWidget(view, 1, k, Qt::AlignHCenter);
        grid->addWidget(caption, 2, k);
        m_views.append(view);
        m_captions.append(caption);
    }
    m_pictures.resize(review::kStripFrames);
}

void FrameStrip::setTitle(const QString &title)
{
    m_title->setText(title);
}

QString FrameStrip::title() const
{
    return m_title->text();
}

void FrameStrip::setPanels(const QList<Panel> &panels)
{
    m_panels = panels.mid(0, review::kStripFrames);
    for (int k = 0; k < m_views.size(); ++k) {
        const Panel p = m_panels.value(k);
        QLabel *view = m_views.at(k);
        m_pictures[k] = QImage();
        view->setPixmap(QPixmap());
        view->setText(k < m_panels.size() ? tr("…") : QString());
        view->setLineWidth(p.edge ? 2 : 0);
        m_captions.at(k)->setText(p.caption);
        // A picture says nothing to a screen reader; what it is a frame of
        // does, and the name's change is announced.
        view->setAccessibleName(p.spoken);
    }
}

void FrameStrip::showFrame(double seconds, const QImage &image)
{
    for (int k = 0; k < m_panels.size(); ++k) {
        if (!sameTime(m_panels.at(k).seconds, seconds))
            continue;
        QLabel *view = m_views.at(k);
        m_pictures[k] = image;
        if (image.isNull()) {
            view->setPixmap(QPixmap());
            view->setText(tr("No picture"));
        } else {
            view->setPixmap(
                QPixmap::fromImage(image).scaled(kPanel, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        }
    }
}

QImage FrameStrip::picture(int panel) const
{
    return m_pictures.value(panel);
}

void FrameStrip::setCurrent(bool current)
{
    m_current = current;
    QFont f = m_title->font();
    f.setUnderline(current);
    m_title->setFont(f);
}

void FrameStrip::clear()
{
    setTitle(QString());
    setPanels({});
}

void FrameStrip::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit clicked();
    QWidget::mousePressEvent(event);
}
