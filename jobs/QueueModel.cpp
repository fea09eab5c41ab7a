#include "jobs/QueueModel.h"

#include "core/PathText.h"
#include "core/TimeText.h"
#include "jobs/RawNames.h"

#include <cmath>

QueueModel::QueueModel(BatchQueue &queue, QObject *parent) : QAbstractTableModel(parent), m_queue(queue)
{
    m_rows = m_queue.ids();
    // Rows come and go one at a time, so that a view keeps its selection
    // and its place while the queue changes around them.
    connect(&m_queue, &BatchQueue::added, this, &QueueModel::entryAdded);
    connect(&m_queue, &BatchQueue::removed, this, &QueueModel::entryRemoved);
    connect(&m_queue, &BatchQueue::stateChanged, this, &QueueModel::entryChanged);
    connect(&m_queue, &BatchQueue::progress, this, &QueueModel::entryChanged);
    connect(&m_queue, &BatchQueue::message, this, &QueueModel::entryChanged);
    connect(&m_queue, &BatchQueue::profileChanged, this, &QueueModel::entryChanged);
}

void QueueModel::entryAdded(int id)
{
    // Ids grow: a recording added goes last.
    const int row = int(m_rows.size());
    beginInsertRows(QModelIndex(), row, row);
    m_rows << id;
    endInsertRows();
}

void QueueModel::entryRemoved(int id)
{
    m_notFound.remove(id);
    const int row = rowOf(id);
    if (row < 0)
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.removeAt(row);
    endRemoveRows();
}

void QueueModel::entryChanged(int id)
{
    const int row = rowOf(id);
    if (row >= 0)
        emit dataChanged(this->index(row, 0), this->index(row, ColumnCount - 1));
}

int QueueModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int QueueModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

int QueueModel::entryAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows.at(row) : -1;
}

int QueueModel::rowOf(int entry) const
{
    return int(m_rows.indexOf(entry));
}

QString QueueModel::stateText(const BatchQueue::Entry &e)
{
    const QString name = BatchQueue::stateName(e.state);
    switch (e.state) {
    case BatchQueue::State::Detecting:
    case BatchQueue::State::Cutting:
        return e.percent >= 0 ? QStringLiteral("%1 %2 %").arg(name).arg(int(std::floor(e.percent))) : name;
    case BatchQueue::State::Done:
        return e.outcome.copy.isEmpty() || e.request.mode != RunRequest::Mode::Cut
                   ? name
                   : QStringLiteral("done, %1").arg(timeText(e.outcome.keptSeconds, true));
    case BatchQueue::State::Failed:
        return e.outcome.text.isEmpty() ? name : QStringLiteral("failed: ") + e.outcome.text;
    default:
        return name;
    }
}

void QueueModel::setNotFound(int entry, bool notFound)
{
    if (notFound == m_notFound.contains(entry))
        return;
    if (notFound)
        m_notFound.insert(entry);
    else
        m_notFound.remove(entry);
    entryChanged(entry);
}

QVariant QueueModel::data(const QModelIndex &index, int role) const
{
    const int i = entryAt(index.row());
    // A row on its way out is still asked about (a view measures it as it
    // leaves), after the queue has let it go.
    if (i < 0 || !index.isValid() || !m_queue.contains(i))
        return {};
    const BatchQueue::Entry &e = m_queue.entry(i);
    if (role == Qt::ToolTipRole)
        return e.outcome.text.isEmpty() ? QVariant() : QVariant(e.outcome.text);
    if (role == Qt::EditRole && index.column() == ProfileColumn)
        return e.request.profile;
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
        return {};
    switch (index.column()) {
    case NameColumn:
        // Bytes that are not UTF-8 as "\xHH", not as the stand-in's name.
        return rawnames::shown(rawnames::bytesOf(pathtext::lastComponent(e.recordingNamed())));
    case LengthColumn:
        return e.seconds > 0 ? timeText(e.seconds, true) : QString();
    case ProfileColumn:
        // As the window's own choice names them.
        return e.request.profile.isEmpty() ? QStringLiteral("Defaults") : e.request.profile;
    case StateColumn:
        return m_notFound.contains(i) && e.state == BatchQueue::State::Failed
                   ? QStringLiteral("not found, kept")
                   : stateText(e);
    default:
        return {};
    }
}

QVariant QueueModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case NameColumn:
        return QStringLiteral("Recording");
    case LengthColumn:
        return QStringLiteral("Length");
    case ProfileColumn:
        return QStringLiteral("Profile");
    case StateColumn:
        return QStringLiteral("State");
    default:
        return {};
    }
}

Qt::ItemFlags QueueModel::flags(const QModelIndex &index) const
{
    const Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    const int i = entryAt(index.row());
    // Only a row that has not begun: what runs, or ran, keeps its profile.
    return m_queue.contains(i) && index.column() == ProfileColumn
                   && m_queue.entry(i).state == BatchQueue::State::Waiting
               ? flags | Qt::ItemIsEditable
               : flags;
}

bool QueueModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    const int i = entryAt(index.row());
    return i >= 0 && index.column() == ProfileColumn && role == Qt::EditRole
           && m_queue.setProfile(i, value.toString());
}
