#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

namespace tarven {

// One desktop program per user. The first start holds a lock file in the user's runtime
// folder and listens on a local socket beside it; a later start finds the lock taken, tells
// the first through the socket to show its window, and ends. A lock or socket left by a
// program that died is taken over.
class SingleInstance final : public QObject {
    Q_OBJECT
  public:
    enum class Start {
        first,        // this is the only one: go on, and watch for showRequested
        shownOther,   // another one runs and was told to show its window
        otherSilent,  // another one holds the lock but did not take the message
    };

    // `folder` holds the lock and the socket; empty: the user's runtime folder
    // ($XDG_RUNTIME_DIR). Where no folder can be had, every start counts as the first.
    explicit SingleInstance(QString folder = {});
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Start start();
    QString socketPath() const { return socketPath_; }

  signals:
    // A later start asked this one to show its window.
    void showRequested();

  private:
    bool tellOther() const;

    QString socketPath_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

}  // namespace tarven
