#include "jobs/QueueStore.h"

#include "core/AtomicWrite.h"
#include "jobs/Recording.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>

namespace queuestore {

namespace {

const QStringList kModes{QStringLiteral("cut"), QStringLiteral("chapters"), QStringLiteral("skip-list")};

bool kept(BatchQueue::State s)
{
    using S = BatchQueue::State;
    return s == S::Waiting || s == S::Detecting || s == S::Detected || s == S::ReadyForReview
           || s == S::Approved || s == S::Cutting || s == S::Stopped;
}

QJsonObject rowOf(const Saved &s)
{
    const QMetaEnum states = QMetaEnum::fromType<BatchQueue::State>();
    return QJsonObject{{QStringLiteral("recording"), s.recording},
                       {QStringLiteral("output"), s.output},
                       {QStringLiteral("mode"), kModes.value(int(s.mode))},
                       {QStringLiteral("state"), QString::fromLatin1(states.valueToKey(int(s.state)))},
                       {QStringLiteral("profile"), s.profile}};
}

} // namespace

QString defaultPath()
{
    // Qt 6.4 has no location for XDG_STATE_HOME.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/trimlet/queue.json");
}

bool save(const BatchQueue &queue, const QString &path, const QHash<int, Saved> &held)
{
    QJsonArray rows;
    for (const int i : queue.ids()) {
        const BatchQueue::Entry &e = queue.entry(i);
        if (const auto h = held.constFind(i); h != held.cend())
            rows.append(rowOf(*h));
        else if (kept(e.state))
            // A stand-in's output is settled again beside the next one.
            rows.append(rowOf(Saved{e.recordingNamed(), e.named.isEmpty() ? e.request.output : QString(),
                                    e.request.mode, e.state, e.request.profile}));
    }
    if (rows.isEmpty() && !QFileInfo::exists(path))
        return true;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    return writeAtomically(path, QJsonDocument(QJsonObject{{QStringLiteral("recordings"), rows}}).toJson());
}

QList<Saved> load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonArray rows =
        QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("recordings")).toArray();
    const QMetaEnum states = QMetaEnum::fromType<BatchQueue::State>();
    QList<Saved> saved;
    for (const QJsonValue &row : rows) {
        const QJsonObject o = row.toObject();
        Saved s;
        s.recording = o.value(QStringLiteral("recording")).toString();
        if (s.recording.isEmpty())
            continue;
        s.output = o.value(QStringLiteral("output")).toString();
        s.profile = o.value(QStringLiteral("profile")).toString();
        s.mode = RunRequest::Mode(
            std::max<qsizetype>(0, kModes.indexOf(o.value(QStringLiteral("mode")).toString())));
        bool ok = false;
        const int state =
            states.keyToValue(o.value(QStringLiteral("state")).toString().toLatin1().constData(), &ok);
        s.state =
            ok && kept(BatchQueue::State(state)) ? BatchQueue::State(state) : BatchQueue::State::Waiting;
        saved << s;
    }
    return saved;
}

BatchQueue::State restoredState(const Saved &saved)
{
    using S = BatchQueue::State;
    if (!Recording(saved.recording).haveDetection())
        return S::Waiting;
    switch (saved.state) {
    case S::ReadyForReview:
        return S::ReadyForReview;
    case S::Detected:
    case S::Approved:
    case S::Cutting:
        return S::Approved;
    default:
        return S::Waiting;
    }
}

} // namespace queuestore
