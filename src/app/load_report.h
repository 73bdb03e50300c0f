#pragma once

#include <string>
#include <vector>

#include "setup/setup_file.h"

namespace qk750 {

// One thing the windows report after a load, in the order they report them.
struct LoadProblem {
    enum class Kind {
        InvalidKbdSize,  // "Invalid KBD File size"
        ReadFailed,      // a file that could not be read, and why
        SaveFailed,      // the KBD file's INI twin that could not be written, and why
    };
    Kind kind;
    std::string path;
    std::string reason;
};

struct LoadReport {
    // The setup must lose its name, so that no quiet save can write what was loaded over
    // the file that could not be read (or a KBD file's INI twin).
    bool unnamed = false;
    std::vector<LoadProblem> problems;
};

// What a load's result means for the windows; setupFileName is the name after the load.
LoadReport describeLoad(const LoadResult& result, const std::string& setupFileName);

}  // namespace qk750
