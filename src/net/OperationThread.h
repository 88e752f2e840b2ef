#pragma once
// TOperationThread: the base of the program's stoppable workers. The work runs on its
// own thread and reports through OperationProgress, a signal that reaches receivers
// on the main thread queued (connect it with a receiver or context object living
// there); the worker never touches windows or main-thread objects.
//
// A worker stops when its creator asks it to (requestInterruption) or when the shared
// stop event is set; it notices between steps, in CheckStopped, which raises
// EOperationStopped to unwind the work.
//
// The creator starts the thread with start() once it has set the worker's fields, and
// frees it after it has finished (the finished() signal, or wait()).

#include "net/Mutex.h"
#include "shell/Errors.h"

#include <QThread>
#include <memory>

QUILLMAR_DECLARE_EXCEPTION(EOperationStopped, Exception)

class TOperationThread : public QThread {
    Q_OBJECT

public:
    // Progress kinds every operation thread uses; descendants add their own.
    enum : quint16 { kindFinished = 5 };

    explicit TOperationThread(qint32 parameter = 0, QObject* parent = nullptr);
    // Asks a running worker to stop and waits for it.
    ~TOperationThread() override;

    qint32 Parameter() const { return m_parameter; }
    // The stop event every operation thread of the program watches.
    const std::shared_ptr<TNamedEvent>& StopEvent() const { return m_stopEvent; }

signals:
    // kind, identifier (0 for plain operation threads), value. Emitted on the worker's
    // thread.
    void OperationProgress(quint16 kind, quint16 identifier, quint32 value);

protected:
    // Runs DoOperation, swallowing whatever it raises (the creator reads the outcome
    // from the worker's own fields), then reports kindFinished.
    void run() final;

    virtual void Notify(quint16 kind, quint32 value);
    // Raises EOperationStopped when the worker must stop. It only looks, never waits,
    // so a worker may call it for every chunk it handles.
    virtual void CheckStopped();
    virtual void DoOperation() = 0;

    // For destructors of descendants: the work must end before their part of the
    // object goes away.
    void StopAndWait();

private:
    qint32 m_parameter;
    std::shared_ptr<TNamedEvent> m_stopEvent;
};
