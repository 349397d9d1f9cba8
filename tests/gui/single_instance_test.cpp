#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <string>
#include <vector>

#include "app/instance_block.h"
#include "gui/single_instance.h"

namespace sonavel {
namespace {

// Each test gets its own folder, so that no running editor and no other test answers.
class SingleInstanceTest : public ::testing::Test {
 protected:
  QTemporaryDir folder{QDir::tempPath() + "/sonavel-instance-XXXXXX"};
  QString name = QStringLiteral("SonavelRunMutex-test");
  std::vector<std::vector<std::string>> received;

  SingleInstance::Handler Record() {
    return [this](std::vector<std::string> arguments) { received.push_back(std::move(arguments)); };
  }

  // Spins the event loop until `count` blocks have arrived or the wait runs out.
  bool WaitFor(std::size_t count, int timeout_ms = 5000) {
    QDeadlineTimer deadline(timeout_ms);
    while (received.size() < count && !deadline.hasExpired()) QTest::qWait(10);
    return received.size() >= count;
  }

  // Sends raw bytes to `path` as an unknown program would.
  static void SendRaw(const QString& path, const QByteArray& bytes) {
    QLocalSocket socket;
    socket.connectToServer(path);
    ASSERT_TRUE(socket.waitForConnected(2000));
    socket.write(bytes);
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(2000)) {
    }
    socket.disconnectFromServer();
  }
};

TEST_F(SingleInstanceTest, SecondInstanceForwardsToTheFirst) {
  ASSERT_TRUE(folder.isValid());
  SingleInstance first(name, folder.path());
  EXPECT_FALSE(first.TryForward({"sonavel"}));  // nobody there yet
  ASSERT_TRUE(first.Listen(Record()));

  SingleInstance second(name, folder.path());
  const std::vector<std::string> arguments = {"/usr/bin/sonavel", "-open", "a b.wav", "-block"};
  ASSERT_TRUE(second.TryForward(arguments));
  ASSERT_TRUE(WaitFor(1));
  EXPECT_EQ(received[0], arguments);

  // And again: the first keeps listening.
  SingleInstance third(name, folder.path());
  ASSERT_TRUE(third.TryForward({"sonavel", "-exit"}));
  ASSERT_TRUE(WaitFor(2));
  EXPECT_EQ(received[1], (std::vector<std::string>{"sonavel", "-exit"}));
}

TEST_F(SingleInstanceTest, ForwardedBlockIsLimited) {
  SingleInstance first(name, folder.path());
  ASSERT_TRUE(first.Listen(Record()));
  std::vector<std::string> arguments;
  for (int i = 0; i < 200; ++i) arguments.push_back(std::string(300, static_cast<char>('a' + i % 26)));
  ASSERT_TRUE(SingleInstance(name, folder.path()).TryForward(arguments));
  ASSERT_TRUE(WaitFor(1));
  ASSERT_EQ(received[0].size(), 128u);
  EXPECT_EQ(received[0][127], std::string(259, static_cast<char>('a' + 127 % 26)));
}

TEST_F(SingleInstanceTest, TheLockKeepsAnotherStartWaitingUntilListening) {
  SingleInstance first(name, folder.path());
  ASSERT_FALSE(first.TryForward({"sonavel"}));
  // The first holds the lock between its check and listening.
  QLockFile other(first.socket_path() + ".lock");
  EXPECT_FALSE(other.tryLock(0));
  ASSERT_TRUE(first.Listen(Record()));
  EXPECT_TRUE(other.tryLock(0));
  other.unlock();
}

TEST_F(SingleInstanceTest, ReplacesAStaleSocket) {
  const QString path = QDir(folder.path()).filePath(name);
  {
    // A socket file nobody listens on any more, as a program that crashed leaves it.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    ASSERT_LT(static_cast<std::size_t>(native.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, native.constData(), static_cast<std::size_t>(native.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    ::close(fd);
  }
  ASSERT_TRUE(QFile::exists(path));

  SingleInstance first(name, folder.path());
  EXPECT_FALSE(first.TryForward({"sonavel"}));
  ASSERT_TRUE(first.Listen(Record()));
  ASSERT_TRUE(SingleInstance(name, folder.path()).TryForward({"sonavel", "-exit"}));
  ASSERT_TRUE(WaitFor(1));
}

TEST_F(SingleInstanceTest, SecondListenerDoesNotTakeOverALiveOne) {
  SingleInstance first(name, folder.path());
  ASSERT_TRUE(first.Listen(Record()));
  SingleInstance second(name, folder.path());
  EXPECT_FALSE(second.Listen(Record()));
  ASSERT_TRUE(SingleInstance(name, folder.path()).TryForward({"sonavel", "-exit"}));
  ASSERT_TRUE(WaitFor(1));
}

TEST_F(SingleInstanceTest, IgnoresConnectionsThatSendSomethingElse) {
  SingleInstance first(name, folder.path());
  ASSERT_TRUE(first.Listen(Record()));
  const QString path = first.socket_path();

  SendRaw(path, QByteArray("hello"));                                        // too short
  SendRaw(path, QByteArray(static_cast<qsizetype>(kArgumentBlockSize) + 100, 'x'));  // too long
  {
    QLocalSocket silent;  // connects and says nothing
    silent.connectToServer(path);
    ASSERT_TRUE(silent.waitForConnected(2000));
    QTest::qWait(100);
  }
  EXPECT_FALSE(WaitFor(1, 300));

  // A proper block still comes through afterwards.
  ASSERT_TRUE(SingleInstance(name, folder.path()).TryForward({"sonavel", "ok.wav"}));
  ASSERT_TRUE(WaitFor(1));
  EXPECT_EQ(received[0], (std::vector<std::string>{"sonavel", "ok.wav"}));
}

TEST_F(SingleInstanceTest, BlockSentInPiecesArrives) {
  SingleInstance first(name, folder.path());
  ASSERT_TRUE(first.Listen(Record()));
  const std::vector<std::uint8_t> block = EncodeArgumentBlock({"sonavel", "slow.wav"});
  QLocalSocket socket;
  socket.connectToServer(first.socket_path());
  ASSERT_TRUE(socket.waitForConnected(2000));
  const std::size_t half = block.size() / 2;
  socket.write(reinterpret_cast<const char*>(block.data()), static_cast<qint64>(half));
  socket.flush();
  QTest::qWait(50);
  EXPECT_TRUE(received.empty());
  socket.write(reinterpret_cast<const char*>(block.data() + half),
               static_cast<qint64>(block.size() - half));
  socket.flush();
  ASSERT_TRUE(WaitFor(1));
  EXPECT_EQ(received[0], (std::vector<std::string>{"sonavel", "slow.wav"}));
}

}  // namespace
}  // namespace sonavel
