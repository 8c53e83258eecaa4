#include "ui/AnswerFeeder.h"

#include <utility>

#include <QElapsedTimer>
#include <QTimer>

namespace qarn {

AnswerFeeder::AnswerFeeder(CMsgQueue& queue, DeviceList& list, Batch batch, QObject* parent)
    : QObject(parent), m_queue(queue), m_intake(queue, list), m_batch(std::move(batch)) {}

void AnswerFeeder::Wake() {
    if (m_wakePending.exchange(true))
        return;
    // Only a call to this object's thread is posted from here; it is dropped with this object.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_wakePending = false;
            Drain();
        },
        Qt::QueuedConnection);
}

void AnswerFeeder::Clear() {
    m_queue.Clear();
    m_intake.Clear();
}

void AnswerFeeder::Stop() {
    m_stopped = true;
    Clear();
}

void AnswerFeeder::ScheduleDrain() {
    if (m_drainScheduled)
        return;
    m_drainScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_drainScheduled = false;
        Drain();
    });
}

void AnswerFeeder::Drain() {
    if (m_stopped)
        return;
    QElapsedTimer slice;
    slice.start();
    size_t handled = 0;
    m_batch(true);
    do {
        handled = m_intake.Pump(kStep);
        if (handled > 0)
            m_lastAnswerAt = std::chrono::steady_clock::now();
    } while (handled == kStep && slice.elapsed() < kSlice.count());
    m_batch(false);
    if (m_intake.GetWaitingCount() > 0 || handled == kStep)
        ScheduleDrain();
}

} // namespace qarn
