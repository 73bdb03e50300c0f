#include "setup/setup_record.h"

#include <algorithm>

namespace qk750 {

void ClearSetup(SetupRecord& setup) {
    const std::int32_t delay = setup.Mcr.McrDelay;
    setup = SetupRecord{};
    setup.Mcr.McrDelay = delay;
}

bool HoldsText(const SetupRecord& setup) {
    const auto holds = [](const auto& strings) {
        return std::any_of(strings.begin(), strings.end(),
                           [](const std::string& text) { return !text.empty(); });
    };
    return holds(setup.KeyStrings) || holds(setup.Func2Strings) ||
           !setup.Mcr.PreambleString.empty() || !setup.Mcr.PostambleString.empty();
}

}  // namespace qk750
