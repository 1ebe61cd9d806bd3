#include <iostream>
#include <string>

#include "app/command_line.h"
#include "app/file_mode.h"
#include "app/interactive.h"
#include "orb/decoder_configuration.h"
#include "orb/logger.h"

int main(int argc, char** argv)
{
    // The program's console shows Warnings and above from the start, before
    // the settings or the command line name a level.
    orb::logger().setConsoleLevel(static_cast<int>(orb::LogLevel::Warning));
    app::printBanner();
    const std::string codeTypeList = app::buildCodeTypeList();
    const std::string levelList = app::buildLevelList();
    const app::CommandLine commandLine(argc, argv, '-');
    const orb::DecoderConfiguration config;

    // Exactly one argument is an image file; anything else is interactive.
    if (argc == 2) return app::runFileMode(commandLine, config);
    return app::runInteractive(codeTypeList, levelList);
}
