#include <iostream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/console.h"
#include "sheet/legend_sheet.h"
#include "ui/setup_windows.h"

namespace {

std::string writeLegends(const qk750::ProgramState& state, const std::string& pdfFile,
                         std::vector<int>& cut) {
    qk750::LegendCommandResult result =
        qk750::writeLegendSheetFile(state.Setup, state.SetupFileName, pdfFile);
    cut = std::move(result.cutKeys);
    return result.error;
}

}  // namespace

int main(int argc, char* argv[]) {
    qk750::attachParentConsole();
    const std::vector<std::string> arguments = qk750::commandLineArguments(argc, argv);
    return qk750::runCli(arguments, std::cout, std::cerr, qk750::runWindows, writeLegends);
}
