#pragma once

#include <QImage>
#include <QList>
#include <QWidget>

class QLabel;

// A row of stills with a caption under each and a title over them: the
// frames around one edge of a break. A panel shows its picture once the
// frame for its time is ready.
class FrameStrip : public QWidget
{
    Q_OBJECT
public:
    struct Panel
    {
        double seconds = -1; // the time the frame is asked for
        QString caption; // what the user reads under it
        QString spoken; // what a screen reader says of the picture
        bool edge = false; // the frame the edge is on, drawn framed
    };

    explicit FrameStrip(QWidget *parent = nullptr);

    void setTitle(const QString &title);
    QString title() const;
    void setPanels(const QList<Panel> &panels);
    const QList<Panel> &panels() const { return m_panels; }
    // A made frame for every panel asking for that time; a null image reads
    // "No picture".
    void showFrame(double seconds, const QImage &image);
    // The picture shown in a panel; null until its frame is ready.
    QImage picture(int panel) const;
    // Marks the strip as the one whose edge the keys move.
    void setCurrent(bool current);
    bool isCurrent() const { return m_current; }
    void clear();

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    QLabel *m_title;
    QList<QLabel *> m_views;
    QList<QLabel *> m_captions;
    QList<Panel> m_panels;
    QList<QImage> m_pictures;
    bool m_current = false;
};
