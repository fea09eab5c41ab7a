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

    QString identifier(int column) const { return m_identifiers.value(column); }
    // The rows and the frame rate their times are told in.
    void setCommercials(const CommercialList &rows, float fps);

private:
    QStringList m_identifiers;
    QStringList m_titles;
    CommercialList m_rows;
    float m_fps = 0;
};
