// Zq-TerminalSimulator: plays an 870/QVK or 735 terminal on a loopback TCP port, or a 2210 on a
// pseudo-terminal, so that Zq-ReadUtility and the pipelines around it can run without hardware.
#include <memory>

#include "Emulation.h"
#include "Family.h"
#include "Options.h"
#include "Process.h"
#include "PseudoTerminal.h"
#include "Recorder.h"
#include "TCPServer.h"

namespace Simulator {

namespace {

std::unique_ptr<Endpoint> makeEndpoint(const Options& options, Emulation& emulation, Recorder& recorder) {
  if (options.family->pseudoTerminal) return std::make_unique<PseudoTerminal>(options, emulation, recorder);
  return std::make_unique<TCPServer>(options, emulation, recorder);
}

}  // namespace

}  // namespace Simulator

int main(int argc, char** argv) {
  using namespace Simulator;
  Options options;
  int exitCode = 0;
  if (!parseOptions(argc, argv, options, exitCode)) return exitCode;
  stopOnSignals();

  std::unique_ptr<Emulation> emulation = options.family->make(options);
  if (!emulation->loadRecords()) return 1;
  Recorder recorder;
  if (!recorder.open(options.receivedFile)) return 1;
  std::unique_ptr<Endpoint> endpoint = makeEndpoint(options, *emulation, recorder);
  if (!endpoint->open()) return 1;
  endpoint->serve();
  return 0;
}
