// Only operating-system independent code.
#include "Console.h"
#include "Job.h"

int main(int argc, char** argv) {
  ZqNightly::Console::prepare();
  ZqNightly::Job job;
  return job.run(ZqNightly::Console::arguments(argc, argv));
}
