#include "ui/qt/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <cstdio>

namespace tarven {
namespace {

constexpr char kShowMessage[] = "show\n";
// How long a later start waits for the first to listen: the first may still be starting.
constexpr int kAnswerWaitMs = 3000;
constexpr int kRetryMs = 50;

}  // namespace

SingleInstance::SingleInstance(QString folder) {
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        return;
    socketPath_ = QDir(folder).filePath(QStringLiteral("tarven.socket"));
    lock_ = std::make_unique<QLockFile>(QDir(folder).filePath(QStringLiteral("tarven.lock")));
    // Held for the program's whole life: only a dead holder makes it stale, never its age.
    lock_->setStaleLockTime(0);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromServer();
            emit showRequested();
        }
    });
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Start SingleInstance::start() {
    if (!lock_)
        return Start::first;
    if (!lock_->tryLock(0)) {
        if (lock_->error() == QLockFile::LockFailedError)
            return tellOther() ? Start::shownOther : Start::otherSilent;
        std::fprintf(stderr, "tarven: cannot create %s; a second start will not find this one\n",
                     qPrintable(lock_->fileName()));
        return Start::first;
    }
    // The lock is ours, so a socket there is one that a dead program left.
    QLocalServer::removeServer(socketPath_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(socketPath_)) {
        std::fprintf(stderr, "tarven: cannot listen on %s: %s\n", qPrintable(socketPath_),
                     qPrintable(server_.errorString()));
    }
    return Start::first;
}

bool SingleInstance::tellOther() const {
    const QDeadlineTimer deadline(kAnswerWaitMs);
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(socketPath_);
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
            socket.write(kShowMessage);
            socket.flush();
            socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()));
            socket.disconnectFromServer();
            return true;
        }
        if (deadline.hasExpired())
            return false;
        QThread::msleep(kRetryMs);
    }
}

}  // namespace tarven
