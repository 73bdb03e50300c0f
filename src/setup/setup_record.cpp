#include "setup/setup_record.h"

namespace qk750 {

void ClearSetup(SetupRecord& setup) {
    const std::int32_t delay = setup.Mcr.McrDelay;
    setup = SetupRecord{};
    setup.Mcr.McrDelay = delay;
}

}  // namespace qk750
