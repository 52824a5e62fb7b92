// What every driver fuzz target needs once per process: the debug log open on /dev/null (the
// formatting of rejected replies is part of what is under test), a data file that swallows the
// records, and the driver whose decoding is fed.
#pragma once

#include "Common/File.h"
#include "Common/Log.h"
#include "Zq/TerminalRecord.h"

template <class Driver>
struct DriverSinks {
  DriverSinks() {
    openLog("/dev/null");
    Zq::openDataFile(data, "/dev/null");
  }
  Common::File data;
  Driver driver;
};
