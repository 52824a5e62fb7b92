// The 2210 terminal's serial line.
#include "PseudoTerminal.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Output.h"
#include "Process.h"
#include "Session.h"

namespace Simulator {

PseudoTerminal::~PseudoTerminal() {
  if (slave >= 0) ::close(slave);
  if (master >= 0) ::close(master);
}

bool PseudoTerminal::open() {
  char name[256] = {0};
  if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::fprintf(stderr, "Zq-TerminalSimulator: can't create a pseudo-terminal: %s\n", std::strerror(errno));
    return false;
  }
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  // Raw until the program sets its own line: no echo of replies back into the request stream.
  termios line{};
  ::tcgetattr(slave, &line);
  ::cfmakeraw(&line);
  ::cfsetspeed(&line, B38400);
  ::tcsetattr(slave, TCSANOW, &line);
  if (!options.link.empty()) {
    ::unlink(options.link.c_str());
    if (::symlink(name, options.link.c_str()) != 0) {
      std::fprintf(stderr, "Zq-TerminalSimulator: can't link \"%s\" to %s: %s\n", options.link.c_str(), name,
                   std::strerror(errno));
      return false;
    }
  }
  say("pty=%s", name);
  say("%s terminal on %s%s%s, %zu records", options.modelName.c_str(), name, options.link.empty() ? "" : " linked as ",
      options.link.c_str(), emulation.recordCount());
  return true;
}

void PseudoTerminal::serve() {
  // Our own slave descriptor keeps the line alive while the program closes and reopens it. A
  // program opens the port for exclusive use; a program that ends without giving that back leaves
  // it on the line, so it is cleared after each reply and whenever the line is idle, or the next
  // run could not open it.
  Session session(options, emulation, recorder, master, false, 4096);
  long dialogues = 0;
  while (!stopRequested() && (options.connections < 0 || dialogues < options.connections)) {
    Session::Turn turn = session.serve(100);
    if (turn != Session::TurnEnd) ::ioctl(slave, TIOCNXCL);
    if (turn == Session::TurnHangup || turn == Session::TurnEnd) sleepMs(10);  // nobody on the line
    if (session.dialogueEnded) {
      ++dialogues;
      say("dialogue %ld ended", dialogues);
    }
  }
  // Let the last reply drain to the program before the line goes away.
  sleepMs(200);
  if (!options.link.empty()) ::unlink(options.link.c_str());
}

}  // namespace Simulator
