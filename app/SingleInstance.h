// One window per user: the first start listens on a per-user local socket, and a later start hands
// its files and folders to that window over the socket and ends.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace gq::app {

class TfmMain;

// Where this user's running window on this display listens: in $XDG_RUNTIME_DIR when it is set
// and is this user's private folder, otherwise in a private folder of this user in the temporary
// folder, "gridquilt-<uid>", created with mode 0700 and trusted only when it is a real folder (not a
// link) of this user in which no one else may write. The socket's name holds the display ($WAYLAND_DISPLAY
// or $DISPLAY), so that a start on another display opens a window there. Empty, with the reason in
// `problem`, when no such folder can be had (someone else holds the place).
QString InstanceSocketPath(QString* problem = nullptr);

// Command-line arguments as the absolute paths a drop of them would carry: relative paths are
// resolved against `workingDirectory`, and file: URLs (which some file managers pass) become their
// local paths. Everything else, even a path that does not exist, is taken as it is, as a drop does.
std::vector<std::string> AbsolutePaths(const QStringList& arguments, const QString& workingDirectory);

// The listening side of a running window, and the handing side of a later start.
class InstanceServer : public QObject {
    Q_OBJECT

public:
    enum class Start { kFirst, kHandedOff };

    explicit InstanceServer(QString socketPath, QObject* parent = nullptr);
    ~InstanceServer() override;

    // Hands `paths` (empty: none) to the window already running for this user and returns
    // kHandedOff once that window has received them. With no such window (nothing listens, or a
    // socket was left behind by a run that crashed) this object starts listening and returns
    // kFirst. Two starts at the same moment settle who is first under a lock file. A socket whose
    // listener is another user is never handed anything: this start says so on standard error and
    // returns kFirst. With an empty socket path it returns kFirst without listening.
    Start HandOffOrListen(const std::vector<std::string>& paths);

    // From now on paths go to `window`, whose drop and merge handlers must already be connected.
    // They are taken one hand-off at a time, in the order they came, and only while the window is
    // at rest (no drop or merge running, no modal dialog open): a drop arriving while the window
    // is busy waits for it, as the user would.
    void Attach(TfmMain& window);

    // Queues `paths` to be taken in as a drop on the attached window after everything queued
    // before. The command line's files go through here; an empty list is ignored.
    void Enqueue(std::vector<std::string> paths);

    bool IsListening() const;

    // Hand-offs being received at once, and the bytes one may carry: a hand-off is a list of
    // paths, and a file manager hands over at most a few thousand at a time. More connections are
    // closed at once, and a longer hand-off is dropped before it is read.
    static constexpr int kMaxConnections = 8;
    static constexpr quint32 kMaxHandOffBytes = 4U * 1024U * 1024U;

private:
    void OnNewConnection();
    void OnReadable(QLocalSocket* socket);
    void RaiseWindow();
    void ScheduleDelivery(int delayMilliseconds);
    void DeliverNext();

    QString m_socketPath;
    QLocalServer* m_server = nullptr;
    QPointer<TfmMain> m_window;
    std::deque<std::vector<std::string>> m_pending;
    int m_connections = 0;
    QTimer m_delivery;
    // Drops and merges running now; handed paths wait until none is.
    int m_workInProgress = 0;
    bool m_delivering = false;
};

} // namespace gq::app
