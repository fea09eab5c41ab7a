#pragma once

#include "jobs/BatchQueue.h"

#include <QAbstractTableModel>
#include <QSet>

// The queue as rows of a table: the recording's name, its length, its
// detector profile and its state in words, one row for each recording in
// it, in the queue's order. A waiting row's profile can be edited.
class QueueModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { NameColumn, LengthColumn, ProfileColumn, StateColumn, ColumnCount };
    explicit QueueModel(BatchQueue &queue, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // The profile's name as Qt::EditRole, empty for the defaults.
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    // The queue's id of a row, and the row of an id; -1 for none.
    int entryAt(int row) const;
    int rowOf(int entry) const;
    // "ready for review", "detecting 38 %", "done, 0:41:20", "failed: …".
    static QString stateText(const BatchQueue::Entry &e);
    // A row whose recording is not there (its disk not mounted), kept for
    // when it is: "not found, kept".
    void setNotFound(int entry, bool notFound);

private:
    void entryAdded(int id);
    void entryRemoved(int id);
    void entryChanged(int id);

    BatchQueue &m_queue;
    QList<int> m_rows;
    QSet<int> m_notFound;
};
