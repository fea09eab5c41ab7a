#include "app/BreakReview.h"

#include "app/AppController.h"

namespace {

// One edit of the break list, undone by putting the list back as it was;
// never on another recording's list.
class BreakEdit : public QUndoCommand
{
public:
    BreakEdit(BreakReview &review, const QString &recording, CommercialList before, CommercialList after,
              const QString &text)
        : QUndoCommand(text),
          m_review(review),
          m_recording(recording),
          m_before(std::move(before)),
          m_after(std::move(after))
    { }
    void redo() override { apply(m_after); }
    void undo() override { apply(m_before); }

private:
    void apply(const CommercialList &list)
    {
        if (m_review.recording().path() == m_recording)
            m_review.applyBreaks(list);
    }
    BreakReview &m_review;
    const QString m_recording;
    CommercialList m_before;
    CommercialList m_after;
};

} // namespace

BreakReview::BreakReview(AppController &controller, QObject *parent) : QObject(parent), m_c(controller) { }

void BreakReview::setRecording(const Recording &recording)
{
    m_recording = recording;
    m_document.setRecording(recording);
}

void BreakReview::edit(const CommercialList &before, const CommercialList &after, const QString &text)
{
    m_undo.push(new BreakEdit(*this, m_recording.path(), before, after, text));
}

void BreakReview::reloadCounts()
{
    // The count and the flags follow the lists now on disk; the status
    // line is the run's to say.
    const QString status = m_c.status();
    readEDLData();
    readTXTData();
    setStatus(status);
}

void BreakReview::setStatus(const QString &text)
{
    m_c.setStatusText(text);
}

void BreakReview::setHaveResults(bool value)
{
    m_c.setHaveResults(value);
}

void BreakReview::setHaveCommercials(bool value)
{
    m_c.setHaveCommercials(value);
}
