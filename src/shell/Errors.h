#pragma once
// The root of the program's exceptions. Lower layers raise a subclass carrying the
// operation's message; commands catch at their edge and show one message.

#include <QString>
#include <exception>

class Exception : public std::exception {
public:
    explicit Exception(QString message = {}) : m_message(std::move(message)) {
        m_utf8 = m_message.toUtf8();
    }
    const QString& Message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// Declares an exception class that only adds a name to its base.
#define QUILLMAR_DECLARE_EXCEPTION(Name, Base)                                                     \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        using Base::Base;                                                                          \
    };

// An operation called in a state that does not allow it (a download that is already
// running, an abort before anything started).
QUILLMAR_DECLARE_EXCEPTION(EInvalidOperation, Exception)
