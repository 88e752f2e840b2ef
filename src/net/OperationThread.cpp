#include "OperationThread.h"

TOperationThread::TOperationThread(qint32 parameter, QObject* parent)
    : QThread(parent), m_parameter(parameter),
      m_stopEvent(TNamedEvent::Open(kStopOperationEventName)) {
    // A stop request left over from an earlier operation must not stop this one.
    m_stopEvent->Reset();
}

TOperationThread::~TOperationThread() {
    StopAndWait();
}

void TOperationThread::StopAndWait() {
    requestInterruption();
    wait();
}

void TOperationThread::run() {
    try {
        DoOperation();
    } catch (...) {
        // Stopped, failed or broken: the outcome is in the worker's fields.
    }
    Notify(kindFinished, 0);
}

void TOperationThread::Notify(quint16 kind, quint32 value) {
    emit OperationProgress(kind, 0, value);
}

void TOperationThread::CheckStopped() {
    if (isInterruptionRequested() || m_stopEvent->IsSet())
        throw EOperationStopped();
}
