#pragma once
// Test seam of the static library (the DLL exports nothing of it): lets tests
// put their own back end into the process's logger.

#include "Logging/LoggingIf.h"

#include <memory>

namespace ETWLogging {
namespace testing {

// Installs `backEnd` into the logger (creating the logger if needed) and
// returns the back end it replaces.
std::unique_ptr<CLoggingIf> replaceBackEndForTesting(std::unique_ptr<CLoggingIf> backEnd);

// The group name the logger identity holds now.
const wchar_t* identityGroupNameForTesting();

// Drops the logger so that the next front-end call creates it afresh through
// `builder` (null: the default builder). No other thread may be logging.
void resetLoggerForTesting(CLogBuilderIf* builder);

} // namespace testing
} // namespace ETWLogging
