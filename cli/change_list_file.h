#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/result.h"
#include "run/log_file.h"

namespace dialmend {

// Where dialmend-run writes its change list: a file, made and kept as a log file is (created
// readable by its owner alone, or emptied when the first text reaches it), or, for "-",
// standard output. The header goes before the first records, or alone at the end.
class ChangeListFile {
 public:
  // Reserves `target` ("-": `out`). Fails with the message for the user.
  [[nodiscard]] Status Open(const std::string& target, std::FILE* out);

  void Write(std::string_view records);

  // Whether writing to standard output has failed.
  [[nodiscard]] bool Failed() const { return m_error != 0; }

  // Completes it. Fails with the message of the first failure, naming where.
  [[nodiscard]] Status Close();

  // For a run that ended before it read anything: a file Open made is removed, one that was
  // there is left as it was.
  void Discard() { m_file.Discard(); }

 private:
  [[nodiscard]] Status Failure(std::string reason) const;

  LogFile m_file;
  std::FILE* m_out = nullptr;
  std::string m_name;
  bool m_started = false;
  int m_error = 0;
};

}  // namespace dialmend
