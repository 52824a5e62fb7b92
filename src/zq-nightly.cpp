// Entry point of the nightly job: the standard streams made safe, then the job.
#include <string>
#include <vector>

#include "Common/Console.h"
#include "Nightly/Job.h"

int main(int argc, char** argv) {
  // No file the job opens may take the place of a closed standard stream and receive its output.
  Console::reopenClosedStandardStreams();
  Console::keepRunningWithoutReader();
  std::vector<std::string> arguments = Console::arguments(argc, argv);
  // The job's options come after its own name.
  if (!arguments.empty()) arguments.erase(arguments.begin());
  ZqNightly::Job job;
  return job.run(arguments);
}
