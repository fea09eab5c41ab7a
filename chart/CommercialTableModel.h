#pragma once

#include "core/Commercial.h"

#include <QAbstractTableModel>
#include <QStringList>

// The commercial table. It holds its own copy of the rows, replaced as a
// whole between a begin and an end of a reset, so a view never sees a
// list that changed under it. Columns are told apart by identifier ("#" or
// a commercial entry's key).
class CommercialTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit CommercialTableModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // A tick in "Cut", or a start or end typed as time text, is checked and
    // asked for through editRequested; the rows change once it is applied.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    QString identifier(int column) const { return m_identifiers.value(column); }
    int column(const QString &identifier) const { return int(m_identifiers.indexOf(identifier)); }
    // The rows, the frame rate their times are told in and the recording's
    // frames, which bound an edit.
    void setCommercials(const CommercialList &rows, float fps, int totalFrames = 0);
    const CommercialList &rows() const { return m_rows; }
    // Asks for the row's break to go, or for a new one.
    void removeBreak(int row);
    bool addBreak(int start, int end);
    void toggleCut(int row);
    // Moves the start or the end of row's break to frame, if it can go there.
    bool moveEdge(int row, bool startEdge, int frame);

signals:
    void editRequested(const CommercialList &after, const QString &description);
    void editRejected(const QString &why);

private:
    QStringList m_identifiers;
    QStringList m_titles;
    CommercialList m_rows;
    float m_fps = 0;
    int m_totalFrames = 0;
};
