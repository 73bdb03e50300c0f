#include "app/load_report.h"

namespace qk750 {

LoadReport describeLoad(const LoadResult& result, const std::string& setupFileName) {
    LoadReport report;
    const bool kbdFailed = result.kbdImport && result.kbdStatus != KbdImportStatus::Ok;
    report.unnamed = kbdFailed || result.unreadable.has_value();
    using Kind = LoadProblem::Kind;
    if (result.kbdImport && result.kbdStatus == KbdImportStatus::InvalidSize) {
        report.problems.push_back({Kind::InvalidKbdSize, {}, {}});
    } else if (result.unreadable) {
        report.problems.push_back(
            {Kind::ReadFailed, result.unreadable->path, result.unreadable->reason});
    } else if (result.kbdImport && result.kbdStatus == KbdImportStatus::Ok && !result.save.ok) {
        report.problems.push_back({Kind::SaveFailed, setupFileName, result.save.error});
    }
    if (result.datFailure) {
        report.problems.push_back(
            {Kind::ReadFailed, result.datFailure->path, result.datFailure->reason});
    }
    return report;
}

}  // namespace qk750
