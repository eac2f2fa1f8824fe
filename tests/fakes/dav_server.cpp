#include "tests/fakes/dav_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace dialmend {
namespace {

namespace fs = std::filesystem;

std::string Program(DavServerKind kind) {
  if (kind == DavServerKind::Shaped) return "python3";
  return kind == DavServerKind::Xandikos ? "xandikos" : "radicale";
}

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    if (::access((dirs.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

bool Listening(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

DavServer::DavServer(DavServerKind kind) : m_kind(kind) {
  std::string pattern = (fs::path(testing::TempDir()) / "dav-server-XXXXXX").string();
  if (::mkdtemp(pattern.data()) != nullptr) m_dir = pattern;
}

DavServer::~DavServer() {
  Kill();
  std::error_code ignored;
  if (!m_dir.empty()) fs::remove_all(m_dir, ignored);
}

std::string DavServer::Missing(DavServerKind kind) {
  const std::string program = Program(kind);
  if (kind == DavServerKind::Shaped && ::access("/usr/bin/python3", X_OK) != 0) {
    return "/usr/bin/python3 is not installed (Debian package python3)";
  }
  if (!OnPath(program)) return program + " is not installed (Debian package " + program + ")";
  if (kind == DavServerKind::RadicaleTls && !OnPath("openssl")) return "openssl is not installed";
  return {};
}

void DavServer::AddRadicaleBook(const std::string& collection, const std::string& name) {
  WriteFile(m_dir / "store" / "collection-root" / kUser / collection / ".Radicale.props",
            "{\"tag\": \"VADDRESSBOOK\", \"D:displayname\": \"" + name + "\"}");
}

void DavServer::AddRadicaleCard(const std::string& collection, const std::string& file,
                                const std::string& text) {
  WriteFile(m_dir / "store" / "collection-root" / kUser / collection / file, text);
}

void DavServer::AddArguments(std::vector<std::string> arguments) {
  m_arguments.insert(m_arguments.end(), arguments.begin(), arguments.end());
}

std::vector<std::string> DavServer::Requests() const {
  std::vector<std::string> lines;
  std::ifstream in(m_dir / "requests.log");
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void DavServer::MakeRadicaleBookReadOnly(const std::string& collection) {
  m_read_only.push_back(collection);
}

bool DavServer::Start(std::string& why) {
  if (m_dir.empty()) {
    why = "no temporary folder";
    return false;
  }
  // The free port may be taken by another test's server or connection before this one binds
  // it; such a server ends at once, and another port is tried.
  bool ended = false;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (StartAt(FreePort(), why, ended)) return true;
    if (!ended) return false;
  }
  return false;
}

bool DavServer::StartAt(int port, std::string& why, bool& ended) {
  ended = false;
  m_port = port;
  std::vector<std::string> args;
  if (m_kind == DavServerKind::Xandikos) {
    args = {"xandikos",  "-d", (m_dir / "store").string(), "--defaults", "-l",
            "127.0.0.1", "-p", std::to_string(m_port)};
  } else if (m_kind == DavServerKind::Shaped) {
    m_second_port = FreePort();
    args = {"/usr/bin/python3", DIALMEND_SHAPED_DAV_SERVER,
            "--root",           m_dir.string(),
            "--requests",       (m_dir / "requests.log").string(),
            "--listen",         "127.0.0.1:" + std::to_string(m_port),
            "--listen",         "127.0.0.2:" + std::to_string(m_second_port)};
    args.insert(args.end(), m_arguments.begin(), m_arguments.end());
  } else {
    WriteFile(m_dir / "users", std::string(kUser) + ":" + kPassword + "\n");
    std::string config =
        "[server]\nhosts = 127.0.0.1:" + std::to_string(m_port) +
        "\n[auth]\ntype = htpasswd\nhtpasswd_filename = " + (m_dir / "users").string() +
        "\nhtpasswd_encryption = plain\n[storage]\nfilesystem_folder = " +
        (m_dir / "store").string() + "\n[logging]\nlevel = warning\n";
    if (!m_read_only.empty()) {
      // The first section that matches decides: the read-only books, then Radicale's usual
      // rights (the root listed, the principal and its books the user's own).
      std::string rights;
      for (const std::string& book : m_read_only) {
        rights += "[read-only-" + book + "]\nuser: .+\ncollection: {user}/" + book +
                  "(/.*)?\npermissions: r\n";
      }
      rights +=
          "[root]\nuser: .+\ncollection:\npermissions: R\n[principal]\nuser: .+\n"
          "collection: {user}\npermissions: RW\n[books]\nuser: .+\ncollection: {user}/[^/]+\n"
          "permissions: rw\n";
      WriteFile(m_dir / "rights", rights);
      config += "[rights]\ntype = from_file\nfile = " + (m_dir / "rights").string() + "\n";
    }
    if (m_kind == DavServerKind::RadicaleTls) {
      const std::string make_cert =
          "openssl req -x509 -newkey rsa:2048 -nodes -keyout '" + (m_dir / "key.pem").string() +
          "' -out '" + CaFile() +
          "' -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 >/dev/null 2>&1";
      if (std::system(make_cert.c_str()) != 0) {
        why = "openssl could not make a certificate";
        return false;
      }
      config.replace(config.find("[auth]"), 0,
                     "ssl = True\ncertificate = " + CaFile() +
                         "\nkey = " + (m_dir / "key.pem").string() + "\n");
    }
    WriteFile(m_dir / "config", config);
    args = {"radicale", "--config", (m_dir / "config").string()};
  }
  const std::string log = (m_dir / "server.log").string();
  m_pid = ::fork();
  if (m_pid == 0) {
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(out, 2);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  // Readiness, not timing: the server is given ample time to bind its port.
  for (int tries = 0; tries < 1000; ++tries) {
    if (Listening(m_port)) return true;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_pid = -1;
      ended = true;
      std::ifstream in(log);
      why = args[0] + " ended at once: " + std::string(std::istreambuf_iterator<char>(in), {});
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  why = args[0] + " did not listen on port " + std::to_string(m_port);
  return false;
}

void DavServer::Kill() {
  if (m_pid <= 0) return;
  ::kill(m_pid, SIGKILL);
  ::waitpid(m_pid, nullptr, 0);
  m_pid = -1;
}

std::string DavServer::SecondUrl() const {
  return "http://127.0.0.2:" + std::to_string(m_second_port);
}

std::string DavServer::Url(bool with_user) const {
  return std::string(m_kind == DavServerKind::RadicaleTls ? "https://" : "http://") +
         (with_user && m_kind != DavServerKind::Xandikos ? std::string(kUser) + "@" : "") +
         "127.0.0.1:" + std::to_string(m_port);
}

}  // namespace dialmend
