#pragma once
// Single-instance control. One program instance runs per user; a second start hands
// the feed address of its command line ("/add reader:...") to the running instance,
// asks it to show itself, and ends.
//
// Named objects of the protocol, per user, in the user's runtime folder:
//   "Quillmar.{B7CEC90E-...}.lock"  the instance mutex (a lock file; the kernel lock
//                                     dies with its process, so a crash leaves no lock)
//   "Quillmar.{B7CEC90E-...}"       the running instance's local socket, which stands
//                                     for the broadcast of the two instance messages
//   "Quillmar.{55DAF62D-...}"       the 4096-byte shared block: a 32-bit little-endian
//                                     length N (at most 4092), then N bytes of address
//
// A message travels as its registered name on one line; the running instance answers
// "done" once its handler has returned, which makes the send synchronous.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class QLocalServer;
class QLockFile;
class QFile;

class TQuillmar : public QObject {
    Q_OBJECT
public:
    static constexpr int BlockSize = 4096;
    static constexpr int MaxUrlLength = BlockSize - 4;

    static const char* const MutexName;        // "Quillmar.{B7CEC90E-...}"
    static const char* const MappingName;      // "Quillmar.{55DAF62D-...}"
    static const char* const UrlPendingName;   // "Quillmar.{9A5F22BC-...}"
    static const char* const ShowInstanceName; // "Quillmar.{80618A53-...}"
    static const char* const AfterShowName;    // "Quillmar.{35AD1ABA-...}"

    // The process's controller. The program entry creates it from its own command line
    // (arguments after the program's name) before anything else; later calls return it.
    static TQuillmar& Instance();
    static TQuillmar& CreateInstance(const QStringList& arguments);
    static void DestroyInstance();

    // Construction takes the instance lock, opens the shared block and reads the
    // command line. runtimeFolder empty: the user's runtime folder.
    explicit TQuillmar(const QStringList& arguments, const QString& runtimeFolder = {});
    ~TQuillmar() override;

    bool AlreadyRunning() const { return m_alreadyRunning; }
    bool ShowUserInterface() const { return m_showUserInterface; }

    QByteArray GetPendingUrl();
    void SetPendingUrl(const QByteArray& url);
    void ActivateRunningInstance();
    // The executable's folder followed by "web/".
    static QString GetWebFolder();
    // The executable's folder, without a trailing separator.
    static QString GetProgramFolder();

    // A first instance starts answering second starts; needs the application object.
    bool StartListening();

Q_SIGNALS:
    // Emitted in the running instance; a second start waits until the handlers return.
    void UrlPendingMessage();
    void ShowInstanceMessage();

private:
    void openSharedBlock(bool created);
    void parseCommandLine(const QStringList& arguments);
    void broadcast(const char* message);
    void acceptConnection();

    QString m_runtimeFolder;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QFile> m_blockFile;
    uchar* m_view = nullptr;
    std::unique_ptr<QLocalServer> m_server;
    int m_clientSocket = -1;
    QByteArray m_cachedUrl;
    bool m_alreadyRunning = false;
    bool m_showUserInterface = false;
};
