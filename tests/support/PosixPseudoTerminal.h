// A pseudo-terminal pair standing in for a COM port: the code under test opens the slave as
// COM<n> (through ZQ_COMPORT_DIR), the test plays the device on the master.
#pragma once

#include <cstddef>
#include <string>

#include "LogCapture.h"

namespace ZqTest {

class PosixPseudoTerminal {
public:
  // Opens the pair and links <temp dir>/COM<port> to the slave; ZQ_COMPORT_DIR points at the
  // directory until destruction.
  explicit PosixPseudoTerminal(unsigned port);
  ~PosixPseudoTerminal();
  PosixPseudoTerminal(const PosixPseudoTerminal&) = delete;
  PosixPseudoTerminal& operator=(const PosixPseudoTerminal&) = delete;

  bool ok() const { return master_ >= 0 && slave_ >= 0; }
  const std::string& slavePath() const { return slavePath_; }
  const std::string& directory() const { return dir_.path(); }
  // The slave descriptor, for reading back the line settings the code under test applied.
  int slave() const { return slave_; }
  int master() const { return master_; }

  // The device's side. write sends every byte (waiting while the line is full).
  void write(const std::string& bytes);
  // Up to `count` bytes; fewer when `timeoutMs` passes without more.
  std::string read(size_t count, int timeoutMs);
  // Hangs up the device's side: the slave then polls readable and reads nothing.
  void closeMaster();

private:
  TempDir dir_;
  std::string slavePath_;
  std::string previousDir_;
  bool hadPreviousDir_ = false;
  int master_ = -1;
  int slave_ = -1;
};

}  // namespace ZqTest
