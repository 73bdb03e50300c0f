#pragma once

#include <string>
#include <string_view>

#include "keys/device_image.h"

namespace qk750 {

// How a failed image build is reported: the message box text (also what a window-free run
// prints), and the outcome-file code and detail line of a batch run.
struct ImageFailureReport {
    std::string message;
    std::string code;
    std::string detail;
};

// The one table of image-failure texts. The detail line is "Key N" for a key that is too
// long and the setup file name otherwise. Empty texts for a successful result.
ImageFailureReport describeImageFailure(const ImageResult& result, std::string_view setupFileName);

// The note appended to the status bar after a successful build: "  [KBD Setup Size=N]".
std::string setupSizeNote(int setupSize);
// The status bar text without that note, its two blanks included.
std::string withoutSetupSizeNote(const std::string& statusText);

}  // namespace qk750
