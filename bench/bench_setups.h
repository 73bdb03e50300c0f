#pragma once

#include "setup/setup_record.h"

namespace qk750::bench {

// Every key and Func2 string used: 168 strings of 10 bytes and two 3-byte MCR strings put
// 1686 of the 1694 string-area bytes to use — the most work a build or a keystroke's
// recomputation can take.
inline SetupRecord fullSetup() {
    SetupRecord setup;
    setup.Mcr.McrDelay = 5;
    for (int k = 1; k <= kKeyCount; ++k) {
        setup.KeyStrings[k] = "abcdefghi";
        setup.Func2Strings[k] = "<CtrlC><Tab>xyzuv";
    }
    setup.Mcr.PreambleString = "<F8>";
    setup.Mcr.PostambleString = "<Enter>";
    return setup;
}

}  // namespace qk750::bench
