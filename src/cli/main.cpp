#include "cli/CtlMain.h"
#include "diag/FileLogger.h"

#include <iostream>

int main(int argc, char** argv) {
    // The log file and its settings follow the program's name, as for every program of the tool.
    qarn::InitFileLoggerFacility();
    const int status = qarn::cli::RunCtl(argc, argv, std::cout, std::cerr);
    std::cout.flush();
    qarn::ShutdownFileLoggerFacility();
    return status;
}
