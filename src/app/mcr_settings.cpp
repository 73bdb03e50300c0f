#include "app/mcr_settings.h"

namespace qk750 {

bool builtInBoxShown(std::int32_t mcrSetupMode) {
    return mcrSetupMode != 0 && mcrSetupMode != 255;
}

int modeEntryShown(std::int32_t mcrSetupMode) {
    if (!builtInBoxShown(mcrSetupMode) || mcrSetupMode < 1 || mcrSetupMode > kBuiltInModeCount) {
        return -1;
    }
    return mcrSetupMode - 1;
}

SetupRecType mcrAsShownAndGathered(const SetupRecType& loaded) {
    SetupRecType gathered = loaded;

    const bool builtIn = builtInBoxShown(loaded.McrSetupMode);
    if (builtIn) {
        // Checking the built-in box clears both checksum boxes.
        gathered.TransmitChecksum = false;
        gathered.BF_Checksum = false;
    }
    const int entry = modeEntryShown(loaded.McrSetupMode);
    gathered.McrSetupMode = builtIn && entry >= 0 ? entry + 1 : 0;
    gathered.BuiltIn_Setup = gathered.McrSetupMode != 0;

    // The delay box shows the value in decimal and reads it back unchanged; only 0 is
    // replaced when shown.
    if (gathered.McrDelay == 0) {
        gathered.McrDelay = kDefaultMcrDelay;
    }
    return gathered;
}

}  // namespace qk750
