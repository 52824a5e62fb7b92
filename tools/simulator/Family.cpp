// The families the simulator can play: the only place that lists them.
#include "Family.h"

#include "Emulation2210.h"
#include "Emulation735.h"
#include "Emulation870.h"

namespace Simulator {

const Family* findFamily(const std::string& name) {
  static const Family* const families[] = {&Emulation870::family, &Emulation735::family, &Emulation2210::family};
  for (const Family* family : families)
    for (const std::string& known : family->names)
      if (name == known) return family;
  return nullptr;
}

}  // namespace Simulator
