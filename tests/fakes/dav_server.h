#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

// A CardDAV server of its own for a test: Radicale, Xandikos, or the tests' own shaped server
// (shaped_dav_server.py, answering as misbehaving servers do) on 127.0.0.1 at a free port, its
// storage in a fresh temporary folder, stopped when the object goes.

namespace dialmend {

enum class DavServerKind { Radicale, RadicaleTls, Xandikos, Shaped };

class DavServer {
 public:
  // The user Radicale knows, and that user's password.
  static constexpr const char* kUser = "user";
  static constexpr const char* kPassword = "s3cret-pw";

  explicit DavServer(DavServerKind kind);
  ~DavServer();
  DavServer(const DavServer&) = delete;
  DavServer& operator=(const DavServer&) = delete;

  // Why the server cannot run here (its program is not installed); empty when it can.
  [[nodiscard]] static std::string Missing(DavServerKind kind);

  // Writes a Radicale address book with `name` as its display name (before Start()).
  void AddRadicaleBook(const std::string& collection, const std::string& name);
  // Writes a card into a Radicale address book (before Start()).
  void AddRadicaleCard(const std::string& collection, const std::string& file,
                       const std::string& text);

  // Lets the user read but not change a Radicale address book (before Start()).
  void MakeRadicaleBookReadOnly(const std::string& collection);

  // Adds arguments for the shaped server, "--shape trickle" say (before Start()).
  void AddArguments(std::vector<std::string> arguments);

  // Starts the server and waits until it listens; false with the reason in `why` when it
  // does not.
  [[nodiscard]] bool Start(std::string& why);
  // Ends the server at once, as a crash would; nothing more is answered.
  void Kill();

  // "http://127.0.0.1:PORT" (https for TLS), with `user@` when `with_user`.
  [[nodiscard]] std::string Url(bool with_user = true) const;
  // The shaped server's second listener, "http://127.0.0.2:PORT".
  [[nodiscard]] std::string SecondUrl() const;
  // The shaped server's requests so far, one JSON line each: host, method, path, auth, status.
  [[nodiscard]] std::vector<std::string> Requests() const;
  // The certificate a TLS server uses, which a client must be told to trust.
  [[nodiscard]] std::string CaFile() const { return (m_dir / "cert.pem").string(); }
  [[nodiscard]] const std::filesystem::path& Dir() const { return m_dir; }

 private:
  // One try at `port`; `ended` tells a server that ended at once from one that never listened.
  bool StartAt(int port, std::string& why, bool& ended);

  DavServerKind m_kind;
  std::filesystem::path m_dir;
  int m_port = 0;
  int m_second_port = 0;
  pid_t m_pid = -1;
  std::vector<std::string> m_arguments;
  std::vector<std::string> m_read_only;
};

}  // namespace dialmend
