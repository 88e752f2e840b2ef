#pragma once
// Named synchronisation objects of the process. Code that shares a lock or a stop
// signal finds the same object by its name, without passing it around: the search
// worker and the main window meet at the document access mutex, every stoppable worker
// watches the stop event. The names live within this process only; what two
// processes share is the single-instance control's business.

#include <QString>
#include <memory>

// The stop request of the program's operations: the main window's Stop command sets
// it, every operation thread watches it.
extern const QString kStopOperationEventName;
// Guards the saved-search results between the search worker and the main window.
extern const QString kDocumentAccessMutexName;

// A manual-reset event: once set it stays set until reset, and every waiter sees it.
// The event lives as long as someone holds it; opening a name that nobody holds
// creates a new event, not set.
class TNamedEvent {
public:
    static std::shared_ptr<TNamedEvent> Open(const QString& name);

    ~TNamedEvent();
    TNamedEvent(const TNamedEvent&) = delete;
    TNamedEvent& operator=(const TNamedEvent&) = delete;

    const QString& Name() const { return m_name; }
    void Set();
    void Reset();
    bool IsSet() const;
    // True when the event is set or becomes set within the time; a negative time waits
    // without limit.
    bool Wait(int timeoutMs) const;

    struct State;

private:
    TNamedEvent(QString name, std::shared_ptr<State> state);

    QString m_name;
    std::shared_ptr<State> m_state;
};

// A mutex with a timed wait that belongs to a thread: the thread that acquired it may
// acquire it again (and must release it as often), no other thread may release it.
// TMutex objects created with the same name share one mutex, which lives as long as
// one of them does.
//
// Unlike a system mutex it is never "abandoned": a thread that ends while holding it
// keeps it held, so release it on every path (TMutexLocker).
class TMutex {
public:
    // initiallyOwned: the calling thread owns the mutex when this call created it.
    TMutex(const QString& name, bool initiallyOwned);
    ~TMutex();
    TMutex(const TMutex&) = delete;
    TMutex& operator=(const TMutex&) = delete;

    // True when the calling thread owns the mutex within the time (0: only a look; a
    // negative time waits without limit).
    bool Acquire(int timeoutMs);
    // False when the calling thread does not own it.
    bool Release();

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
};

// Releases an acquired TMutex when it goes out of scope.
class TMutexLocker {
public:
    TMutexLocker(TMutex& mutex, int timeoutMs)
        : m_mutex(mutex), m_owned(mutex.Acquire(timeoutMs)) {}
    ~TMutexLocker() {
        if (m_owned)
            m_mutex.Release();
    }
    TMutexLocker(const TMutexLocker&) = delete;
    TMutexLocker& operator=(const TMutexLocker&) = delete;
    bool Owned() const { return m_owned; }

private:
    TMutex& m_mutex;
    bool m_owned;
};
