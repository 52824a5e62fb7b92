// Child processes: one run of the program per terminal attempt, each in a process group of its
// own (so that a stop request reaches it and only it), and the shell command of -x. A run never
// outlives the job unnoticed: on Linux it gets a stop request (SIGTERM) when the job dies, and
// does not start at all when the job is gone by then; on Windows it belongs to a Job Object that
// ends it when the job's last handle closes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Common {

class Process {
public:
  // How a process ended.
  struct Status {
    bool exited = false;  // it returned an exit code
    int code = 0;         // that code
    std::string ending;   // otherwise: "signal 15 (Terminated)", "status 0xC000013A", ...
  };

  Process() = default;
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts `program` with `arguments` in the folder `directory`, standard input from the null
  // device, standard output and error into `outputFile` (created or emptied). POSIX: a process
  // group of its own. Windows: a new process group on the job's console. `inherited` (a Lock's
  // handle, or -1) is held by the run too, for as long as it lives.
  bool start(const std::string& program, const std::vector<std::string>& arguments, const std::string& directory,
             const std::string& outputFile, intptr_t inherited, std::string& error);
  // Starts `command` through the platform's shell (sh -c, cmd /c) with `lastArgument` appended
  // as one argument, on the job's own standard streams. It is also in the environment variable
  // ZQ_REPORT, and cmd gets it as "%ZQ_REPORT%": cmd expands a variable once, so a % in the text
  // stays as it is, where the text itself would have its %NAME% parts expanded.
  bool startShell(const std::string& command, const std::string& lastArgument, std::string& error);

  // True once the process has ended (then status() says how); never waits.
  bool finished();
  const Status& status() const { return status_; }
  long id() const { return id_; }
  // What tells this process from a later one with the same id (its start time), "" when unknown.
  const std::string& token() const { return token_; }

  // The stop request: SIGTERM to its process group; Windows: Ctrl+Break to its process group.
  bool requestStop(std::string& error);
  // Ends it at once: SIGKILL to its process group; Windows: TerminateProcess.
  void kill();

  // Runs `program` with `arguments` and returns what it printed (at most `timeoutMs`; then it is
  // killed). False when it cannot be started or did not end in time.
  static bool capture(const std::string& program, const std::vector<std::string>& arguments, int64_t timeoutMs,
                      std::string& output, std::string& error);

  // Called once before any start: sets up what wakeUp() and waitAny() use.
  static void prepare();
  // Waits until one of `running` may have ended, wakeUp() was called, or `timeoutMs` passed.
  static void waitAny(const std::vector<Process*>& running, int64_t timeoutMs);
  // Makes a waitAny() return; safe in a signal handler and on the console control thread.
  static void wakeUp();
  static long currentId();

  // A process that is not a child of this job (a run of a job that ended), known by its id and
  // token: whether it still runs, its stop request, and its end.
  static bool alive(long id, const std::string& token);
  static bool requestStopOf(long id, const std::string& token);
  static void killOf(long id, const std::string& token);

private:
  void release();

  long id_ = 0;
  std::string token_;
  bool running_ = false;
  Status status_;
  void* handle_ = nullptr;  // the process's HANDLE on Windows; POSIX systems go by the id
};

}  // namespace Common
