#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "tests/fakes/dav_server.h"
#include "tests/ui/fake_dialogs.h"
#include "ui/main_window.h"

// The window over an address book on a server: the address typed, the password asked in a
// dialog, and a busy server's wait answering Pause and Abort.

namespace dialmend {
namespace {

constexpr const char* kAnn =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:ann\r\nFN:Ann Smith\r\nN:Smith;Ann;;;\r\n"
    "TEL;TYPE=HOME:0171 930 8890\r\nEND:VCARD\r\n";

// A server on 127.0.0.1 that answers every request "503, ask again in 5 seconds", counting
// them; stopped when the object goes.
class BusyServer {
 public:
  BusyServer() {
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(m_listener, 4) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      qFatal("the busy server cannot listen: %s", std::strerror(errno));
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~BusyServer() {
    m_stop = true;
    m_thread.join();
    ::close(m_listener);
  }
  BusyServer(const BusyServer&) = delete;
  BusyServer& operator=(const BusyServer&) = delete;

  [[nodiscard]] QString Url() const {
    return QStringLiteral("http://user@127.0.0.1:%1/user/").arg(m_port);
  }
  [[nodiscard]] int Requests() const { return m_requests; }

 private:
  // Whether `fd` has something to read within a tenth of a second.
  bool Readable(int fd) const {
    pollfd ready{fd, POLLIN, 0};
    return ::poll(&ready, 1, 100) > 0;
  }

  void Serve() {
    int client = -1;
    std::string received;
    while (!m_stop) {
      if (client < 0) {
        if (Readable(m_listener)) client = ::accept(m_listener, nullptr, nullptr);
        continue;
      }
      if (!Readable(client)) continue;
      char buffer[4096];
      const ssize_t got = ::read(client, buffer, sizeof buffer);
      if (got <= 0) {
        ::close(client);
        client = -1;
        received.clear();
        continue;
      }
      received.append(buffer, static_cast<std::size_t>(got));
      // Each request's head, then the body its Content-Length gives.
      for (std::size_t end; (end = received.find("\r\n\r\n")) != std::string::npos;) {
        std::size_t length = 0;
        if (const std::size_t at = received.find("Content-Length: "); at < end) {
          length = std::stoul(received.substr(at + 16));
        }
        if (received.size() < end + 4 + length) break;
        received.erase(0, end + 4 + length);
        ++m_requests;
        const std::string answer =
            "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 5\r\nContent-Length: 0\r\n\r\n";
        if (::write(client, answer.data(), answer.size()) < 0) break;
      }
    }
    if (client >= 0) ::close(client);
  }

  int m_listener = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_requests{0};
  std::thread m_thread;
};

}  // namespace

class ServerWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<MainWindow> Window() {
    m_home = std::make_unique<QTemporaryDir>();
    qputenv("HOME", m_home->path().toUtf8());
    // No desktop secret store: asking one fails at once instead of starting a bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    auto window = std::make_unique<MainWindow>(m_home->path(), m_dialogs);
    m_window = window.get();
    Find<QLineEdit>("LogFile")->setText(m_home->filePath("log.txt"));
    window->show();
    return window;
  }
  template <class T = QWidget>
  T* Find(const char* name) {
    T* w = m_window->findChild<T*>(QString::fromLatin1(name));
    if (w == nullptr) qFatal("no control %s", name);
    return w;
  }
  QPushButton* Button(const char* name) { return Find<QPushButton>(name); }

  FakeDialogs m_dialogs;
  std::unique_ptr<QTemporaryDir> m_home;
  QByteArray m_saved_home = qgetenv("HOME");
  QByteArray m_saved_bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  MainWindow* m_window = nullptr;

 private slots:
  void init() { m_dialogs = FakeDialogs(); }
  void cleanup() {
    m_window = nullptr;
    qputenv("HOME", m_saved_home);
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_saved_bus);
  }

  void aServerAddressRunsOverItsAddressBookWithThePasswordAskedFor() {
    if (const std::string missing = DavServer::Missing(DavServerKind::Radicale); !missing.empty()) {
      if (qEnvironmentVariableIsSet("CI")) QFAIL(missing.c_str());
      QSKIP(missing.c_str());
    }
    DavServer server(DavServerKind::Radicale);
    server.AddRadicaleBook("work", "Work");
    server.AddRadicaleCard("work", "ann.vcf", kAnn);
    std::string why;
    QVERIFY2(server.Start(why), why.c_str());
    auto w = Window();
    const QString url = QString::fromStdString(server.Url()) + QStringLiteral("/");
    m_dialogs.chosen_contacts = url;
    m_dialogs.password = QString::fromLatin1(DavServer::kPassword);
    Button("SetProfile")->click();
    QCOMPARE(m_dialogs.informed, QStringList{});
    QCOMPARE(Find<QLineEdit>("Profile")->text(), url);
    Button("Go")->click();
    QCOMPARE(m_dialogs.password_prompts,
             QStringList{QStringLiteral("Password for user at %1: ")
                             .arg(QString::fromStdString(server.Url(false)))});
    QCOMPARE(m_dialogs.informed, QStringList{});
    QCOMPARE(w->Controller().Counters().checked, 1);
  }

  void aServerAddressThatCannotBeUsedIsRefusedAtOnce() {
    auto w = Window();
    m_dialogs.chosen_contacts = QStringLiteral("http://user@dav.example.org/");
    Button("SetProfile")->click();
    QCOMPARE(m_dialogs.informed.size(), 1);
    QVERIFY2(m_dialogs.informed.front().contains(QStringLiteral("plain http://")),
             qPrintable(m_dialogs.informed.front()));
    QCOMPARE(Find<QLineEdit>("Profile")->text(), m_home->path());
  }

  void pauseAndAbortAnswerWhileABusyServerIsWaitedFor() {
    BusyServer server;
    auto w = Window();
    m_dialogs.chosen_contacts = server.Url();
    Button("SetProfile")->click();
    bool paused = false;
    w->SetYieldHook([&] {
      // Pause once the server has asked to be asked again, then abort while paused.
      if (paused || server.Requests() == 0) return;
      paused = true;
      Button("Go")->click();
      QTimer::singleShot(0, [&] { w->Controller().Abort(); });
    });
    Button("Go")->click();
    QVERIFY(paused);
    QCOMPARE(w->Controller().State(), RunState::Finished);
    // The aborted wait asked no more: without Pause and Abort it would have asked three times.
    QCOMPARE(server.Requests(), 1);
  }

  void abortEndsAWaitForATricklingServerAtOnce() {
    if (const std::string missing = DavServer::Missing(DavServerKind::Shaped); !missing.empty()) {
      if (qEnvironmentVariableIsSet("CI")) QFAIL(missing.c_str());
      QSKIP(missing.c_str());
    }
    DavServer server(DavServerKind::Shaped);
    server.AddRadicaleBook("work", "Work");
    server.AddRadicaleCard("work", "ann.vcf", kAnn);
    server.AddArguments({"--shape", "trickle"});
    std::string why;
    QVERIFY2(server.Start(why), why.c_str());
    auto w = Window();
    m_dialogs.chosen_contacts =
        QString::fromStdString(server.Url()) + QStringLiteral("/user/work/");
    Button("SetProfile")->click();
    QElapsedTimer aborted;
    w->SetYieldHook([&] {
      // Abort once the server trickles the cards: only a wait that keeps the window answering
      // sees it.
      if (aborted.isValid() || server.Requests().size() < 3) return;
      aborted.start();
      QTimer::singleShot(0, [&] { w->Controller().Abort(); });
    });
    Button("Go")->click();
    QVERIFY(aborted.isValid());
    QVERIFY2(aborted.elapsed() < 1000, qPrintable(QString::number(aborted.elapsed())));
    QCOMPARE(w->Controller().State(), RunState::Finished);
  }
};

}  // namespace dialmend

int RunServerWindowTests(int argc, char** argv) {
  dialmend::ServerWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "server_window_test.moc"
