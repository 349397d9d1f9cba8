#pragma once
// One editor per user. The first program to start listens on a local socket; a later
// start connects, hands over its arguments as an argument block and ends without a window
// of its own. A lock file beside the socket keeps two programs starting together from
// both deciding they are the first.

#include <QByteArray>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace sonavel {

class SingleInstance final : public QObject {
  Q_OBJECT

 public:
  using Handler = std::function<void(std::vector<std::string>)>;

  // The socket is `folder`/`name`; by default "SonavelRunMutex-<user id>" in the user's
  // runtime folder. The lock file is the same path with ".lock" appended.
  explicit SingleInstance(QString name = DefaultName(), QString folder = DefaultFolder(),
                          QObject* parent = nullptr);
  ~SingleInstance() override;

  static QString DefaultName();
  static QString DefaultFolder();
  QString socket_path() const { return socket_path_; }

  // Takes the start-up lock (waiting a bounded time for it), then hands `arguments`
  // (program path first) to a running instance. True when one answered and took the whole
  // block; the lock is then released. Otherwise the lock stays held until Listen() or
  // Release(), so that no other start can slip in between.
  bool TryForward(const std::vector<std::string>& arguments);
  // True when TryForward() reached a running instance, whether or not the block got
  // through: false after it, a hand-over to a running editor failed.
  bool reached_running() const { return reached_running_; }

  // Becomes the first instance: listens (replacing a socket no one answers on any more)
  // and releases the start-up lock. `handler` runs on this object's thread with the
  // arguments of each block a later start sends.
  bool Listen(Handler handler);

  // Gives up the start-up lock without listening.
  void Release();

  // Waits, bounded, for the connection and the block to go out.
  static constexpr int kForwardTimeoutMs = 5000;
  // A connection that has not delivered a whole block by then is dropped.
  static constexpr int kReceiveTimeoutMs = 5000;
  // Connections being read at once; more are refused until one finishes.
  static constexpr int kMaxConnections = 16;

 private:
  struct Connection;

  void Lock();
  void Accept();
  void Read(QLocalSocket* socket);
  void Drop(QLocalSocket* socket);
  bool SomeoneAnswers() const;

  QString socket_path_;
  QLockFile lock_;
  QLocalServer* server_ = nullptr;
  Handler handler_;
  bool reached_running_ = false;
  std::vector<std::unique_ptr<Connection>> connections_;
};

}  // namespace sonavel
