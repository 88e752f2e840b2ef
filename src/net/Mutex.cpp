#include "Mutex.h"

#include <QHash>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

const QString kStopOperationEventName =
    QStringLiteral("stop.operation.{9A0E9C84-AF74-4CF1-BC07-1824E10C57C0}");
const QString kDocumentAccessMutexName =
    QStringLiteral("Quillmar.{2895FC4B-532D-46FE-9838-7B62F7F326CB}");

namespace {

// The objects alive under each name. Entries whose object has gone are replaced when
// the name is opened again.
template <typename T> class TNameTable {
public:
    // The living object of that name, or a new one made by create (told whether it
    // made it).
    std::shared_ptr<T> Open(const QString& name, bool* created = nullptr) {
        std::lock_guard lock(m_mutex);
        std::shared_ptr<T> object = m_objects.value(name).lock();
        if (created)
            *created = !object;
        if (!object) {
            object = std::make_shared<T>();
            m_objects.insert(name, object);
        }
        return object;
    }
    void Forget(const QString& name) {
        std::lock_guard lock(m_mutex);
        const auto it = m_objects.find(name);
        if (it != m_objects.end() && it->expired())
            m_objects.erase(it);
    }

private:
    std::mutex m_mutex;
    QHash<QString, std::weak_ptr<T>> m_objects;
};

} // namespace

struct TNamedEvent::State {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool set = false;
};

struct TMutex::Shared {
    std::mutex mutex;
    std::condition_variable released;
    std::thread::id owner;
    int depth = 0;
};

namespace {

TNameTable<TNamedEvent::State>& Events() {
    static TNameTable<TNamedEvent::State> table;
    return table;
}

TNameTable<TMutex::Shared>& Mutexes() {
    static TNameTable<TMutex::Shared> table;
    return table;
}

} // namespace

std::shared_ptr<TNamedEvent> TNamedEvent::Open(const QString& name) {
    return std::shared_ptr<TNamedEvent>(new TNamedEvent(name, Events().Open(name)));
}

TNamedEvent::TNamedEvent(QString name, std::shared_ptr<State> state)
    : m_name(std::move(name)), m_state(std::move(state)) {}

TNamedEvent::~TNamedEvent() {
    m_state.reset();
    Events().Forget(m_name);
}

void TNamedEvent::Set() {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->set = true;
    }
    m_state->changed.notify_all();
}

void TNamedEvent::Reset() {
    std::lock_guard lock(m_state->mutex);
    m_state->set = false;
}

bool TNamedEvent::IsSet() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->set;
}

bool TNamedEvent::Wait(int timeoutMs) const {
    std::unique_lock lock(m_state->mutex);
    if (timeoutMs < 0) {
        m_state->changed.wait(lock, [this] { return m_state->set; });
        return true;
    }
    return m_state->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [this] { return m_state->set; });
}

TMutex::TMutex(const QString& name, bool initiallyOwned) {
    bool created = false;
    m_shared = Mutexes().Open(name, &created);
    if (created && initiallyOwned)
        Acquire(0);
}

TMutex::~TMutex() = default;

bool TMutex::Acquire(int timeoutMs) {
    const std::thread::id me = std::this_thread::get_id();
    std::unique_lock lock(m_shared->mutex);
    const auto free = [&] { return m_shared->depth == 0 || m_shared->owner == me; };
    if (timeoutMs < 0)
        m_shared->released.wait(lock, free);
    else if (!m_shared->released.wait_for(lock, std::chrono::milliseconds(timeoutMs), free))
        return false;
    m_shared->owner = me;
    ++m_shared->depth;
    return true;
}

bool TMutex::Release() {
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->depth == 0 || m_shared->owner != std::this_thread::get_id())
            return false;
        if (--m_shared->depth > 0)
            return true;
        m_shared->owner = {};
    }
    m_shared->released.notify_all();
    return true;
}
