#pragma once

#include <cstdint>

#include "setup/setup_record.h"

namespace qk750 {

inline constexpr int kBuiltInModeCount = 11;
inline constexpr std::int32_t kDefaultMcrDelay = 5;

// How the MCR dialogs show a loaded mode: the built-in box is checked for any mode but 0
// and 255; the mode list then selects entry mode - 1, which exists only for modes 1-11.
bool builtInBoxShown(std::int32_t mcrSetupMode);
int modeEntryShown(std::int32_t mcrSetupMode);  // -1: no entry selected

// The MCR and lock part as it comes back when a loaded record is shown in the dialogs and
// gathered from them again, without anyone touching the controls. The windows and the
// window-free paths (the --image run) must agree on this.
SetupRecType mcrAsShownAndGathered(const SetupRecType& loaded);

}  // namespace qk750
