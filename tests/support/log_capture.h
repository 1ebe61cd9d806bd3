#pragma once
// Collects the log lines written while it lives, at every level.
#include <iostream>
#include <sstream>
#include <string>

#include "orb/logger.h"

namespace orb {

class LogCapture {
public:
    explicit LogCapture(LogLevel level = LogLevel::Trace) : previous_(logger().consoleLevel())
    {
        logger().setConsoleStream(text_);
        logger().setConsoleLevel(static_cast<int>(level));
    }
    ~LogCapture()
    {
        logger().setConsoleLevel(previous_);
        logger().setConsoleStream(std::cout);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() const { return text_.str(); }

private:
    std::ostringstream text_;
    int previous_;
};

} // namespace orb
