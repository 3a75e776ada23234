// The per-user local socket through which later starts hand their files to the running window.
// SPDX-License-Identifier: Apache-2.0
#include "app/SingleInstance.h"

#include "app/TfmMain.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QUrl>

#include <malloc.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace gq::app {

namespace {

// A hand-off is a 4-byte big-endian length and then that many bytes: every path in UTF-8,
// each followed by a NUL (the one byte no path can hold). The window answers with
// kHandOffAcknowledged.
constexpr char kHandOffAcknowledged = 0x06;
constexpr int kLengthBytes = 4;
// Of the display's name in the socket's name: enough to tell displays apart, short enough that
// the socket's path fits the 108 bytes of a local socket address.
constexpr qsizetype kMaxDisplayNameChars = 32;
// A client that has not sent its whole hand-off by then is dropped.
constexpr int kReadTimeoutMilliseconds = 5000;
// How long a later start waits for the running window: connecting is immediate, but the answer
// comes from the window's event loop, which may be starting up at that moment.
constexpr int kConnectTimeoutMilliseconds = 1000;
constexpr int kAnswerTimeoutMilliseconds = 10000;
// How often queued paths look again whether the window is at rest.
constexpr int kRetryMilliseconds = 100;

QByteArray EncodeHandOff(const std::vector<std::string>& paths)
{
    QByteArray body;
    for (const std::string& path : paths) {
        body.append(path.data(), static_cast<qsizetype>(path.size()));
        body.append('\0');
    }
    const auto length = static_cast<quint32>(body.size());
    QByteArray frame;
    for (int shift = 24; shift >= 0; shift -= 8) {
        frame.append(static_cast<char>((length >> shift) & 0xFFU));
    }
    return frame + body;
}

std::vector<std::string> DecodePaths(const QByteArray& body)
{
    std::vector<std::string> paths;
    qsizetype start = 0;
    while (start < body.size()) {
        qsizetype end = body.indexOf('\0', start);
        if (end < 0) {
            end = body.size();
        }
        paths.emplace_back(body.constData() + start, static_cast<size_t>(end - start));
        start = end + 1;
    }
    return paths;
}

// Counts a drop or a merge as running for as long as it lives.
class WorkInProgressScope {
public:
    explicit WorkInProgressScope(int& count) : m_workInProgress(count) { ++m_workInProgress; }
    ~WorkInProgressScope() { --m_workInProgress; }
    WorkInProgressScope(const WorkInProgressScope&) = delete;
    WorkInProgressScope& operator=(const WorkInProgressScope&) = delete;

private:
    int& m_workInProgress;
};

// Why `folder` is not a private folder of this user (a real folder, not a link, owned by this user,
// in which no one else may put or replace a file), or an empty text when it is one.
QString PrivateFolderProblem(const QByteArray& folder)
{
    struct stat st {};
    const QString name = QFile::decodeName(folder);
    if (::lstat(folder.constData(), &st) != 0) {
        return name + " cannot be used: " + QString::fromLocal8Bit(std::strerror(errno));
    }
    if (S_ISLNK(st.st_mode)) {
        return name + " is a link, not a folder of this user";
    }
    if (!S_ISDIR(st.st_mode)) {
        return name + " is not a folder";
    }
    if (st.st_uid != ::geteuid()) {
        return name + " belongs to another user";
    }
    if ((st.st_mode & 022) != 0) {
        return name + " may be written by other users";
    }
    return {};
}

// The display this start shows its window on, as a part of a file name.
QString DisplayName()
{
    QByteArray display = qgetenv("WAYLAND_DISPLAY");
    if (display.isEmpty()) {
        display = qgetenv("DISPLAY");
    }
    QString name;
    for (const char c : display.right(kMaxDisplayNameChars)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '-' || c == '_';
        name += plain ? QChar(c) : QChar('_');
    }
    return name.isEmpty() ? QString("none") : name;
}

// The user id of the process at the other end of a connected local socket, or -1 when unknown.
long PeerUserId(qintptr descriptor)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (descriptor < 0 ||
        ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
        return -1;
    }
    return static_cast<long>(credentials.uid);
}

bool PeerIsThisUser(const QLocalSocket& socket)
{
    return PeerUserId(socket.socketDescriptor()) == static_cast<long>(::geteuid());
}

} // namespace

QString InstanceSocketPath(QString* problem)
{
    const QString socketName = "gridquilt-" + DisplayName() + ".socket";
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && PrivateFolderProblem(runtime).isEmpty()) {
        return QDir(QFile::decodeName(runtime)).filePath(socketName);
    }
    // A folder of the shared temporary folder is this user's only if this user made it, and it is
    // checked after mkdir, not before: another user may have made it first, or put a link there.
    const QByteArray folder =
        QFile::encodeName(QDir(QDir::tempPath()).filePath(QString("gridquilt-%1").arg(::geteuid())));
    QString why;
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
        why = QFile::decodeName(folder) + " cannot be made: " + QString::fromLocal8Bit(std::strerror(errno));
    } else {
        why = PrivateFolderProblem(folder);
    }
    if (!why.isEmpty()) {
        if (problem != nullptr) {
            *problem = why;
        }
        return {};
    }
    return QDir(QFile::decodeName(folder)).filePath(socketName);
}

std::vector<std::string> AbsolutePaths(const QStringList& arguments, const QString& workingDirectory)
{
    const QDir base(workingDirectory);
    std::vector<std::string> paths;
    paths.reserve(static_cast<size_t>(arguments.size()));
    for (const QString& argument : arguments) {
        QString path = argument;
        if (argument.startsWith("file:", Qt::CaseInsensitive)) {
            const QUrl url(argument);
            if (url.isLocalFile()) {
                path = url.toLocalFile();
            }
        }
        paths.push_back(QDir::cleanPath(base.absoluteFilePath(path)).toStdString());
    }
    return paths;
}

InstanceServer::InstanceServer(QString socketPath, QObject* parent)
    : QObject(parent), m_socketPath(std::move(socketPath))
{
    m_delivery.setSingleShot(true);
    connect(&m_delivery, &QTimer::timeout, this, [this] { DeliverNext(); });
}

InstanceServer::~InstanceServer()
{
    if (m_server != nullptr) {
        // Closing removes the socket file, so the next start finds no window to hand to.
        m_server->close();
    }
}

bool InstanceServer::IsListening() const
{
    return m_server != nullptr && m_server->isListening();
}

InstanceServer::Start InstanceServer::HandOffOrListen(const std::vector<std::string>& paths)
{
    if (m_socketPath.isEmpty()) {
        return Start::kFirst;
    }
    // Held only while this start finds out whether it is first: two starts at once (three files
    // opened together from a file manager) must not both find no window and both listen. A lock
    // left by a crashed run is taken over, since its process is gone. Should the lock not come in
    // time, this start goes on without it rather than not at all.
    QLockFile lock(m_socketPath + ".lock");
    lock.tryLock(kAnswerTimeoutMilliseconds);

    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    const bool connected = socket.waitForConnected(kConnectTimeoutMilliseconds);
    if (connected && !PeerIsThisUser(socket)) {
        // Never hand another user the paths, nor take their answer for a window: this start opens
        // a window of its own, and leaves their socket alone.
        socket.abort();
        std::fprintf(stderr, "gridquilt: %s is held by another user: opening a window of its own\n",
                     qPrintable(m_socketPath));
        return Start::kFirst;
    }
    if (connected) {
        socket.write(EncodeHandOff(paths));
        while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(kAnswerTimeoutMilliseconds)) {
        }
        // The answer may have come in already while the hand-off was being written.
        if (socket.bytesAvailable() > 0 || socket.waitForReadyRead(kAnswerTimeoutMilliseconds)) {
            char answer = 0;
            if (socket.read(&answer, 1) == 1 && answer == kHandOffAcknowledged) {
                return Start::kHandedOff;
            }
        }
        // Something listens there but does not answer as a window does (a window that hangs):
        // this start opens a window of its own and takes the socket over.
    }
    socket.abort();

    // Nothing answers: whatever socket file is there was left by a run that ended without
    // removing it, and would make listening fail.
    QLocalServer::removeServer(m_socketPath);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] { OnNewConnection(); });
    if (!m_server->listen(m_socketPath)) {
        // The window works without; later starts then open windows of their own.
        qWarning("gridquilt: cannot listen on %s: %s", qPrintable(m_socketPath), qPrintable(m_server->errorString()));
    }
    return Start::kFirst;
}

void InstanceServer::OnNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        // Only this user's own later starts hand paths over, a few at a time.
        if (m_connections >= kMaxConnections || !PeerIsThisUser(*socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        socket->setReadBufferSize(kLengthBytes + kMaxHandOffBytes);
        connect(socket, &QObject::destroyed, this, [this] {
            --m_connections;
            // What a hand-off held goes back to the system once it is freed, rather than staying
            // with the window for the rest of its run.
            QTimer::singleShot(0, this, [] { ::malloc_trim(0); });
        });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadable(socket); });
        QTimer::singleShot(kReadTimeoutMilliseconds, socket, [socket] { socket->abort(); });
        OnReadable(socket);
    }
}

void InstanceServer::OnReadable(QLocalSocket* socket)
{
    if (socket->bytesAvailable() < kLengthBytes) {
        return;
    }
    const QByteArray header = socket->peek(kLengthBytes);
    quint32 length = 0;
    for (char byte : header) {
        length = (length << 8U) | static_cast<unsigned char>(byte);
    }
    if (length > kMaxHandOffBytes) {
        socket->abort();
        return;
    }
    if (socket->bytesAvailable() < kLengthBytes + static_cast<qint64>(length)) {
        return;
    }
    socket->skip(kLengthBytes);
    std::vector<std::string> paths = DecodePaths(socket->read(length));
    socket->write(&kHandOffAcknowledged, 1);
    socket->disconnectFromServer();
    RaiseWindow();
    Enqueue(std::move(paths));
}

void InstanceServer::RaiseWindow()
{
    if (m_window.isNull()) {
        return;
    }
    if (m_window->isMinimized()) {
        m_window->showNormal();
    }
    m_window->raise();
    m_window->activateWindow();
}

void InstanceServer::Attach(TfmMain& window)
{
    m_window = &window;
    // Every drop and merge is counted while it runs, whoever started it, so that handed paths
    // wait for it to end; when the window is at rest again the next hand-off is taken.
    auto wrap = [this](auto handler) {
        return [this, handler](const auto&... arguments) {
            {
                const WorkInProgressScope working(m_workInProgress);
                if (handler) {
                    handler(arguments...);
                }
            }
            if (m_workInProgress == 0) {
                ScheduleDelivery(0);
            }
        };
    };
    window.onDrop = wrap(window.onDrop);
    window.onMerge = wrap(window.onMerge);
    ScheduleDelivery(0);
}

void InstanceServer::Enqueue(std::vector<std::string> paths)
{
    if (paths.empty()) {
        return;
    }
    m_pending.push_back(std::move(paths));
    ScheduleDelivery(0);
}

void InstanceServer::ScheduleDelivery(int delayMilliseconds)
{
    if (m_pending.empty() || m_window.isNull()) {
        return;
    }
    if (!m_delivery.isActive() || delayMilliseconds < m_delivery.remainingTime()) {
        m_delivery.start(delayMilliseconds);
    }
}

void InstanceServer::DeliverNext()
{
    if (m_pending.empty() || m_window.isNull()) {
        return;
    }
    // A drop while a drop or a merge runs, or while a dialog is open, would not reach the window:
    // the paths wait until it is at rest.
    if (m_delivering || m_workInProgress > 0 || QApplication::activeModalWidget() != nullptr) {
        ScheduleDelivery(kRetryMilliseconds);
        return;
    }
    std::vector<std::string> paths = std::move(m_pending.front());
    m_pending.pop_front();
    m_delivering = true;
    m_window->TakePaths(paths);
    m_delivering = false;
    ScheduleDelivery(0);
}

} // namespace gq::app
