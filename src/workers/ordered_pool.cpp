#include "workers/ordered_pool.h"

namespace CX::Workers {

OrderedPool::OrderedPool(unsigned jobs, IDelivery& delivery) : m_delivery(delivery) {
    if (jobs <= 1) {
        m_slots.resize(1);
        m_inline = std::make_unique<Identifier>();
        return;
    }
    m_jobs = jobs;
    m_slots.resize(WindowPerJob * jobs);
    m_threads.reserve(jobs);
    for (unsigned i = 0; i < jobs; ++i) {
        m_threads.emplace_back([this] { Work(); });
    }
}

OrderedPool::~OrderedPool() {
    Finish();
}

Slot& OrderedPool::Next() {
    if (m_inline) {
        return m_slots[0];
    }
    if (m_filled - m_delivered >= m_slots.size()) {
        std::unique_lock<std::mutex> lock(m_mutex);
        Publish();
        while (m_filled - m_delivered >= m_slots.size()) {
            m_head.wait(lock, [this] { return At(m_delivered).Done; });
            DeliverReady(lock);
        }
    }
    // No worker touches this slot until it is submitted, nor the deliverer until then; and
    // m_delivered only grows on this thread.
    return At(m_filled);
}

void OrderedPool::Submit() {
    if (m_inline) {
        Process(m_slots[0], *m_inline);
        m_delivery.Deliver(m_slots[0]);
        return;
    }
    Slot& slot = At(m_filled);
    // A message has nothing to be done: it is done as it is submitted.
    slot.Done =
        slot.Kind == JobKind::Problem || slot.Kind == JobKind::Note || slot.Kind == JobKind::Text;
    ++m_filled;
    if (m_filled - m_submitted >= Batch) {
        std::unique_lock<std::mutex> lock(m_mutex);
        Publish();
        DeliverReady(lock);
    }
}

void OrderedPool::Publish() {
    if (m_submitted == m_filled) {
        return;
    }
    const std::size_t added = m_filled - m_submitted;
    m_submitted = m_filled;
    if (m_idle > 1 && added > 1) {
        m_work.notify_all();
    } else if (m_idle > 0) {
        m_work.notify_one();
    }
}

void OrderedPool::Finish() {
    if (m_inline) {
        return;
    }
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        Publish();
        while (m_delivered < m_submitted) {
            m_head.wait(lock, [this] { return At(m_delivered).Done; });
            DeliverReady(lock);
        }
        m_stopping = true;
    }
    m_work.notify_all();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
    m_threads.clear();
}

void OrderedPool::DeliverReady(std::unique_lock<std::mutex>& lock) {
    std::size_t count = 0;
    while (m_delivered + count < m_submitted && At(m_delivered + count).Done) {
        ++count;
    }
    if (count == 0) {
        return;
    }
    // Done slots are no worker's any more, and no new slot is filled meanwhile: this
    // thread is the one that fills them.
    lock.unlock();
    for (std::size_t i = 0; i < count; ++i) {
        m_delivery.Deliver(At(m_delivered + i));
    }
    lock.lock();
    m_delivered += count;
}

void OrderedPool::Work() {
    Identifier identifier;
    const std::size_t workers = m_jobs;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_claimed == m_submitted) {
            if (m_stopping) {
                return;
            }
            ++m_idle;
            m_work.wait(lock, [this] { return m_stopping || m_claimed < m_submitted; });
            --m_idle;
            continue;
        }
        // A share of what is waiting, so that the others get theirs too, and at most a
        // batch, so that the head of the window is never held up for long.
        std::size_t count = (m_submitted - m_claimed) / workers;
        count = count < 1 ? 1 : count > Batch ? Batch : count;
        const std::size_t first = m_claimed;
        m_claimed += count;
        lock.unlock();
        for (std::size_t i = 0; i < count; ++i) {
            Slot& slot = At(first + i);
            // A message was done before it was published, and nothing changes it since.
            if (!slot.Done) {
                Process(slot, identifier);
            }
        }
        lock.lock();
        for (std::size_t i = 0; i < count; ++i) {
            At(first + i).Done = true;
        }
        if (first <= m_delivered && m_delivered < first + count) {
            m_head.notify_one();
        }
    }
}

void OrderedPool::Process(Slot& slot, Identifier& identifier) {
    switch (slot.Kind) {
        case JobKind::File:
            identifier.IdentifyPath(
                slot.OpenPath.empty() ? slot.Name.c_str() : slot.OpenPath.c_str(), slot.Result);
            break;
        case JobKind::StandardInput:
            identifier.IdentifyStandardInput(slot.Result);
            break;
        case JobKind::Check: {
            std::uint64_t length = 0;
            for (int i = 7; i >= 0; --i) {
                length = (length << 8) | slot.Expected[i];  // little-endian, as recorded
            }
            if (slot.Name == "-" && slot.OpenPath.empty()) {
                identifier.IdentifyStandardInput(slot.Result);
            } else {
                identifier.IdentifyPath(
                    slot.OpenPath.empty() ? slot.Name.c_str() : slot.OpenPath.c_str(), slot.Result,
                    &length);
            }
            break;
        }
        case JobKind::Problem:
        case JobKind::Note:
        case JobKind::Text:
            break;
    }
}

}  // namespace CX::Workers
