#include "app/image_errors.h"

namespace qk750 {

ImageFailureReport describeImageFailure(const ImageResult& result, std::string_view setupFileName) {
    const std::string fileName(setupFileName);
    switch (result.error) {
        case ImageError::None:
            break;
        case ImageError::KeyTooLong: {
            const std::string key = "Key " + std::to_string(result.key);
            return {key + " is too long !! Reduce length of key...", "ERR_KEY_LEN", key};
        }
        case ImageError::PreambleTooLong:
            return {"MCR Preamble is too long !! Reduce length of preamble...",
                    "ERR_MCR_PREAMBLE_LEN", fileName};
        case ImageError::PostambleTooLong:
            return {"MCR Postamble is too long !! Reduce length of postamble...",
                    "ERR_MCR_POSTAMBLE_LEN", fileName};
        case ImageError::MemoryFull:
            return {"QK750 Memory full!! Reduce length of keys...", "ERR_MEMORY_FULL", fileName};
    }
    return {};
}

namespace {
constexpr std::string_view kSetupSizeNoteStart = "  [KBD Setup Size=";
}  // namespace

std::string setupSizeNote(int setupSize) {
    return std::string(kSetupSizeNoteStart) + std::to_string(setupSize) + "]";
}

std::string withoutSetupSizeNote(const std::string& statusText) {
    // Only the note goes: a "[" of the status text's own (in a device name) stays.
    return statusText.substr(0, statusText.find(kSetupSizeNoteStart));
}

}  // namespace qk750
