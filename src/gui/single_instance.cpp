#include "gui/single_instance.h"

#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>

#include "app/instance_block.h"

namespace sonavel {

namespace {

// How long a start waits for another one to finish its check for a first instance.
constexpr int kLockTimeoutMs = 10000;
// A lock file older than this whose owner cannot be checked is taken as left over.
constexpr int kStaleLockMs = 30000;
// How long the check whether a socket still has a listener may take.
constexpr int kProbeTimeoutMs = 1000;

}  // namespace

struct SingleInstance::Connection {
  QLocalSocket* socket = nullptr;
  QByteArray data;
  QTimer* deadline = nullptr;
};

SingleInstance::SingleInstance(QString name, QString folder, QObject* parent)
    : QObject(parent),
      socket_path_(QDir(folder).filePath(name)),
      lock_(socket_path_ + ".lock") {
  lock_.setStaleLockTime(kStaleLockMs);
}

SingleInstance::~SingleInstance() {
  for (auto& connection : connections_) {
    connection->socket->disconnect(this);
    connection->socket->abort();
    delete connection->socket;
  }
  connections_.clear();
  Release();
}

QString SingleInstance::DefaultName() {
  return QStringLiteral("SonavelRunMutex-%1").arg(static_cast<qulonglong>(::getuid()));
}

QString SingleInstance::DefaultFolder() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty() || !QDir().mkpath(folder)) folder = QDir::tempPath();
  return folder;
}

void SingleInstance::Lock() {
  if (lock_.isLocked()) return;
  // Without the lock (an unwritable folder, a start that hangs holding it) the check goes
  // ahead unguarded: better a second window than none.
  lock_.tryLock(kLockTimeoutMs);
}

void SingleInstance::Release() {
  if (lock_.isLocked()) lock_.unlock();
}

bool SingleInstance::TryForward(const std::vector<std::string>& arguments) {
  Lock();
  QLocalSocket socket;
  socket.connectToServer(socket_path_);
  const QDeadlineTimer deadline(kForwardTimeoutMs);
  if (!socket.waitForConnected(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1))))
    return false;
  reached_running_ = true;
  const std::vector<std::uint8_t> block = EncodeArgumentBlock(arguments);
  if (socket.write(reinterpret_cast<const char*>(block.data()),
                   static_cast<qint64>(block.size())) != static_cast<qint64>(block.size()))
    return false;
  while (socket.bytesToWrite() > 0) {
    const qint64 left = deadline.remainingTime();
    if (left <= 0 || !socket.waitForBytesWritten(static_cast<int>(left))) break;
  }
  // Written is delivered: the running editor reads a whole block and then drops the
  // connection, possibly before this check, so its state afterwards says nothing.
  const bool sent = socket.bytesToWrite() == 0;
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(kProbeTimeoutMs);
  if (sent) Release();
  return sent;
}

bool SingleInstance::SomeoneAnswers() const {
  QLocalSocket probe;
  probe.connectToServer(socket_path_);
  const bool answered = probe.waitForConnected(kProbeTimeoutMs);
  probe.abort();
  return answered;
}

bool SingleInstance::Listen(Handler handler) {
  Lock();
  handler_ = std::move(handler);
  if (server_ == nullptr) {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::Accept);
  }
  bool listening = server_->isListening();
  if (!listening) {
    // The server would replace a socket file that is in the way, so look first whether
    // someone still answers on it; if not, a program that ended without cleaning up
    // left it behind.
    if (QFileInfo::exists(socket_path_) && SomeoneAnswers()) {
      Release();
      return false;
    }
    QLocalServer::removeServer(socket_path_);
    listening = server_->listen(socket_path_);
  }
  Release();
  return listening;
}

void SingleInstance::Accept() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    if (connections_.size() >= static_cast<std::size_t>(kMaxConnections)) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->socket = socket;
    connection->deadline = new QTimer(socket);
    connection->deadline->setSingleShot(true);
    connect(connection->deadline, &QTimer::timeout, this, [this, socket] { Drop(socket); });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
    // A sender that already finished leaves its data behind: read what is there first.
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
      Read(socket);
      Drop(socket);
    });
    connection->deadline->start(kReceiveTimeoutMs);
    connections_.push_back(std::move(connection));
    Read(socket);
  }
}

void SingleInstance::Read(QLocalSocket* socket) {
  const auto it = std::find_if(connections_.begin(), connections_.end(),
                               [socket](const auto& c) { return c->socket == socket; });
  if (it == connections_.end()) return;
  Connection& connection = **it;
  const auto size = static_cast<qsizetype>(kArgumentBlockSize);
  if (socket->bytesAvailable() > 0 && connection.data.size() < size)
    connection.data.append(socket->read(size - connection.data.size()));
  if (socket->bytesAvailable() > 0) {
    // More than one block: not one of ours.
    Drop(socket);
    return;
  }
  if (connection.data.size() < size) return;
  auto arguments = DecodeArgumentBlock(
      reinterpret_cast<const std::uint8_t*>(connection.data.constData()),
      static_cast<std::size_t>(connection.data.size()));
  Drop(socket);
  if (arguments && handler_) {
    const Handler handler = handler_;
    handler(std::move(*arguments));
  }
}

void SingleInstance::Drop(QLocalSocket* socket) {
  const auto it = std::find_if(connections_.begin(), connections_.end(),
                               [socket](const auto& c) { return c->socket == socket; });
  if (it == connections_.end()) return;
  connections_.erase(it);
  socket->disconnect(this);
  socket->abort();
  socket->deleteLater();
}

}  // namespace sonavel
