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

// Where this user's running window listens: in $XDG_RUNTIME_DIR, which only the user can enter,
// when it is set; otherwise in the temporary folder, with the user's id in the name.
QString InstanceSocketPath();

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
    // kFirst. Two starts at the same moment settle who is first under a lock file.
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
    QTimer m_delivery;
    int m_busy = 0;
    bool m_delivering = false;
};

} // namespace gq::app
