#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

namespace qk750 {

// Whole-file reads and replacing writes for the setup files. Paths are kept as
// native_path.h says: UTF-8 on Windows, the file system's bytes elsewhere.

// Invalid: read in full, but not a file of the kind asked for; readFile never gives it.
enum class ReadStatus { Ok, Missing, Failed, Invalid };

struct FileReadResult {
    ReadStatus status = ReadStatus::Ok;
    std::string data;   // the bytes read; on Failed, those read before the failure
    std::string error;  // the system's text when status is not Ok
};

// Reads at most maxBytes bytes from the start of the file in one pass. Missing means no
// file exists at the path; a file that exists but cannot be opened or read is Failed.
FileReadResult readFile(const std::string& path,
                        std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

// Replaces the file at path by data so that readers see either the old content or the
// new, never a mixture: the data goes to a temporary file in the same folder, is flushed
// to the disk and then put in place of the target, which keeps its permissions (on
// Windows its attributes, creation time and access rights). A read-only target is not
// replaced. Returns "" on success, otherwise the system's text for the failure; the
// target is then untouched and the temporary file removed.
std::string writeFileAtomically(const std::string& path, std::string_view data);

// For tests only: makes writeFileAtomically fail at a chosen step, as a full disk or a
// failing device would. Never set by the program.
struct WriteFaults {
    // The temporary file's writes fail (no space left) once it holds this many bytes.
    std::size_t failAfterBytes = std::numeric_limits<std::size_t>::max();
    bool failFlush = false;
    bool failClose = false;
    bool failRename = false;
};
// Null switches the faults off. The object must outlive its use.
void setWriteFaultsForTesting(const WriteFaults* faults);

}  // namespace qk750
