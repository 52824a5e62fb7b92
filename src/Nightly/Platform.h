// The platform tier as the job names it: its clock, files, processes and locks.
#pragma once

#include "Common/Clock.h"
#include "Common/FileSystem.h"
#include "Common/Lock.h"
#include "Common/Process.h"

namespace ZqNightly {

using Common::LocalTime;
using Common::Lock;
using Common::Process;
namespace FileSystem = Common::FileSystem;

}  // namespace ZqNightly
