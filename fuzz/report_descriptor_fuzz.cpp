// Report descriptors of arbitrary bytes: parsed without reading outside them.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "usb/report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so a read one past the end is caught.
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size == 0 ? 1 : size]);
    std::copy(data, data + size, copy.get());
    (void)qk750::parseReportDescriptor(size == 0 ? nullptr : copy.get(), size);
    return 0;
}
