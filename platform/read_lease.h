#pragma once

#ifndef _WIN32

// A read lease on the card as read, held across the swap of names. Taking one fails while any
// program has the file open for writing; once held, a program that opens the old file for
// writing waits until it is let go, and the lease shows that it is wanted. So a writer that
// reached the old file just before the swap is seen, and its version put back, before it can
// write into a file that no longer has the card's name.

namespace dialmend {

// Takes the lease on construction and lets it go on destruction. Nothing here throws.
class ReadLease {
 public:
  enum class Outcome { Held, OpenForWriting, Unsupported };

  // Tries to take a lease on the open file `fd`; Taken() says how that went.
  explicit ReadLease(int fd);
  ReadLease(const ReadLease&) = delete;
  ReadLease& operator=(const ReadLease&) = delete;
  ~ReadLease();

  [[nodiscard]] Outcome Taken() const { return m_outcome; }
  // Whether another program has asked to open the file for writing since the lease was taken.
  [[nodiscard]] bool Wanted() const;

 private:
  int m_fd;
  Outcome m_outcome = Outcome::Unsupported;
};

}  // namespace dialmend

#endif
