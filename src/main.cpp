#include <iostream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/console.h"
#include "ui/setup_windows.h"

int main(int argc, char* argv[]) {
    qk750::attachParentConsole();
    const std::vector<std::string> arguments = qk750::commandLineArguments(argc, argv);
    return qk750::runCli(arguments, std::cout, std::cerr, qk750::runWindows);
}
