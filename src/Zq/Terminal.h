// The terminal interface and the TCP and serial connection bases of the drivers.
// Kept on purpose: one `port` field holds the COM port number or the TCP port, as the command
// line's second argument does; the interface's destructor is virtual, as drivers go through it.
#pragma once

#include <cstdint>
#include <string>

#include "Common/Log.h"
#include "Common/SerialPort.h"
#include "Common/Socket.h"
#include "Zq/Command.h"
#include "Zq/TerminalRecord.h"

namespace Zq {

// What both kinds of connection are given. A wait of -1 does not wait (a poll); a receive makes
// up to `recvAttempts` waits of `recvTimeoutMs` each for every chunk, so a silent peer costs
// recvAttempts x recvTimeoutMs. The serial line has fixed waits of its own and uses only `port`.
struct ConnectionSettings {
  int32_t port = 0;  // the IP port, or the COM port number
  bool blocking = true;
  int32_t recvAttempts = 1;
  int32_t connectTimeoutMs = -1;
  int32_t sendTimeoutMs = -1;
  int32_t recvTimeoutMs = -1;

  // The whole time one reply may take however slowly its bytes come: every wait it is given, and
  // never less than 5 s, since a terminal may pause between the parts of a long reply.
  int32_t replyDeadlineMs() const;
};

struct TCPSettings : ConnectionSettings {
  std::string host;  // dotted IPv4 address
};

struct COMSettings : ConnectionSettings {
  uint32_t baudRate = 0;
};

// Where a terminal is reached: its waits and port (the COM port number, or the TCP port), and the
// IPv4 address or the serial speed.
struct Endpoint {
  ConnectionSettings settings;
  std::string host;
  uint32_t baudRate = 0;
};

// What the application asks of every terminal driver. Each operation is one whole dialogue with
// the terminal, logs its own failures, and is true when it succeeded.
class ITerminal {
public:
  // Closes a transport that is still open; only a failure to close is logged.
  virtual ~ITerminal() = default;
  // Opens the terminal's transport; logs the connection made (Info) or why not (Error).
  virtual bool connect(const Endpoint& endpoint) = 0;
  // Closes it; true when it closed cleanly.
  virtual bool disconnect() = 0;
  // Clears the terminal's record memory.
  virtual bool reset() = 0;
  // Sets the terminal's clock from the PC's local time; nothing is sent when the clock cannot be read.
  virtual bool updateDateTime() = 0;
  // Downloads every record into `fileName`: true only when the file is complete and on stable
  // storage (an empty memory gives an empty file); otherwise the file is left empty (an 870
  // stream that broke keeps its whole lines).
  virtual bool dump(const std::string& fileName, CardFormat cardFormat) = 0;
};

// The drivers' connection bases. Their own reset, updateDateTime and dump do nothing but log a
// Warning ("Not Implemented") and fail: a driver overrides them.
class TCPConnection : public ITerminal {
public:
  // Creates the socket and connects within `s.connectTimeoutMs`, then sets `s.blocking`; logs the
  // connection made (Info) or why not (Error).
  bool connect(const TCPSettings& s);
  bool connect(const Endpoint& endpoint) override;
  // Closes the socket; true when it closed cleanly.
  bool disconnect() override;

  bool reset() override;
  bool updateDateTime() override;
  bool dump(const std::string& fileName, CardFormat cardFormat) override;

  Common::Socket socket;
  TCPSettings settings;

protected:
  // Before a request: what the terminal sent unasked (a late or doubled reply, records beyond those
  // it announced) is read and dropped, logged at Warning with its bytes in the name of
  // `operation`. Such a connection is out of step from then on. `waitMs` gives bytes still on
  // their way that long.
  void dropStrayBytes(const char* operation, int32_t waitMs = 0);
  // Right before a request: stray bytes dropped; a clearing request only on a connection in step
  // (readyToClear, one receive wait given to bytes still on their way). False: not to be sent.
  bool readyForRequest(const char* operation, bool clearing);
  // Starts the whole wait of the reply to the request just sent.
  void startReply() { socket.setReplyDeadline(settings.replyDeadlineMs()); }
  // Whether a clearing request may go out: every earlier request got its whole reply and nothing
  // arrives unasked within `waitMs`. Otherwise records could be cleared that were never saved, or
  // a stale reply taken for the clearing's answer; logged at Warning in the name of `operation`,
  // false.
  bool readyToClear(const char* operation, int32_t waitMs);

  // False once a request of this connection got no whole reply, or bytes came unasked.
  bool inStep = true;
};

class COMConnection : public ITerminal {
public:
  // Opens COM<s.port> with the terminals' line at the nearest table speed; logs the port opened
  // (Info) or why not (Error).
  bool connect(const COMSettings& s);
  bool connect(const Endpoint& endpoint) override;
  // Closes the port; true when it closed cleanly.
  bool disconnect() override;
  // Purges both directions of the line, then writes the request: the serial port's result (bytes
  // written, -1 none in time, 0 a failed write); 0 too when the purge failed (logged), nothing
  // written.
  int32_t send(const Command& command);

  bool reset() override;
  bool updateDateTime() override;
  bool dump(const std::string& fileName, CardFormat cardFormat) override;

  Common::SerialPort serialPort;
  COMSettings settings;

protected:
  // Starts the whole wait of the reply to the request just sent.
  void startReply() { serialPort.setReplyDeadline(settings.replyDeadlineMs()); }
  // Whether a clearing request may go out: every earlier request got a reply. Stray bytes, and
  // the rest of a reply that ended in silence, are purged before every request, so only a reply
  // that never came can still arrive to be taken for another's. Logged at Warning in the name of
  // `operation`.
  bool readyToClear(const char* operation);

  // False once a request of this connection got no reply.
  bool inStep = true;
};

// What a clearing makes of the records the last download saved (`saved`, -1 for none): no download
// saved refuses it (Error), a download of no records has nothing to clear (Info, and done), since a
// count misread as 0 must never empty a full memory. Logged at `site` in the name of `owner`.
enum class Clearing { Refused, NothingToClear, Needed };
Clearing clearingFor(const LogSite& site, const char* owner, long saved);

// The first speed of the table at or above `requested`; 115200 past its end.
uint32_t selectBaudRate(uint32_t requested);

}  // namespace Zq
