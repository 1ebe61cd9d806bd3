#pragma once
// Running the built program, a virtual X display and xdotool from a test,
// with standard input fed through a pipe and the outputs kept in files.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temporary_directory.h"

extern char** environ;

namespace testing_support {

inline int countOf(const std::string& text, const std::string& part)
{
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

// Polls `done` until it holds or `seconds` have passed; generous limits keep
// a loaded machine from failing the test, polling keeps a fast one quick.
inline bool waitUntil(const std::function<bool()>& done, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// A child process whose standard input is a pipe and whose standard output
// and error go to files in the working directory.
class ChildProcess {
public:
    // `environment` entries override (or, with an empty value, remove) the
    // test's own variables.
    ChildProcess(const std::vector<std::string>& arguments, const std::filesystem::path& directory,
                 const std::map<std::string, std::string>& environment = {}, const std::string& outputName = "child")
        : stdoutPath_(directory / (outputName + ".out")), stderrPath_(directory / (outputName + ".err"))
    {
        std::vector<std::string> variables;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            const std::string key = text.substr(0, text.find('='));
            if (environment.count(key) == 0) variables.push_back(text);
        }
        for (const auto& [key, value] : environment)
            if (!value.empty()) variables.push_back(key + "=" + value);
        std::vector<char*> argv, envp;
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        for (auto& variable : variables) envp.push_back(variable.data());
        envp.push_back(nullptr);

        int input[2];
        if (pipe(input) != 0) return;
        const int out = open(stdoutPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int err = open(stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const std::string workingDirectory = directory.string();
        pid_ = fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            if (chdir(workingDirectory.c_str()) != 0) _exit(126);
            dup2(input[0], 0);
            dup2(out, 1);
            dup2(err, 2);
            close(input[0]);
            close(input[1]);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(input[0]);
        close(out);
        close(err);
        input_ = input[1];
        fcntl(input_, F_SETFD, FD_CLOEXEC);
    }

    ~ChildProcess()
    {
        closeInput();
        if (running()) {
            kill(pid_, SIGTERM);
            if (!waitForExit(5)) kill(pid_, SIGKILL);
        }
        if (pid_ > 0 && status_ < 0) waitpid(pid_, nullptr, 0);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }

    void write(const std::string& text)
    {
        std::size_t done = 0;
        while (input_ >= 0 && done < text.size()) {
            const ssize_t n = ::write(input_, text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
    }
    // The end of the program's standard input.
    void closeInput()
    {
        if (input_ >= 0) close(input_);
        input_ = -1;
    }

    bool running()
    {
        if (pid_ <= 0 || status_ >= 0) return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = status;
            return false;
        }
        return true;
    }
    bool waitForExit(double seconds)
    {
        return waitUntil([this] { return !running(); }, seconds);
    }
    // Exit code, or -1 while running or after a signal.
    int exitCode() const { return status_ >= 0 && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }

    std::string output() const { return orb::testing::readFile(stdoutPath_); }
    std::string errors() const { return orb::testing::readFile(stderrPath_); }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int status_ = -1;
    std::filesystem::path stdoutPath_;
    std::filesystem::path stderrPath_;
};

// A private X server for window tests, so no desktop is needed. Given a
// directory, the server keeps its screen there as a file (XWD format), which
// a test reads as a screenshot.
class VirtualDisplay {
public:
    explicit VirtualDisplay(const std::string& screenDirectory = "")
    {
        std::vector<std::string> arguments = {"Xvfb", "-displayfd", "3", "-noreset", "-screen", "0", "1280x1024x24",
                                              "-nolisten", "tcp"};
        if (!screenDirectory.empty()) arguments.insert(arguments.end(), {"-fbdir", screenDirectory});
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        int numberPipe[2];
        if (pipe(numberPipe) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            // Close the read end first: it may itself be descriptor 3.
            close(numberPipe[0]);
            if (numberPipe[1] != 3) {
                dup2(numberPipe[1], 3);
                close(numberPipe[1]);
            }
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 1);
            dup2(devnull, 2);
            // No reset when a client leaves: the window searches come and go,
            // and a slow program connecting during a reset is refused.
            execvp("Xvfb", argv.data());
            _exit(127);
        }
        close(numberPipe[1]);
        // The server writes its display number once it accepts connections.
        std::string number;
        pollfd ready{numberPipe[0], POLLIN, 0};
        char c;
        while (poll(&ready, 1, 30000) == 1 && read(numberPipe[0], &c, 1) == 1 && c != '\n') number += c;
        close(numberPipe[0]);
        if (!number.empty()) name_ = ":" + number;
    }
    ~VirtualDisplay()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    bool ready() const { return !name_.empty(); }
    // The DISPLAY value, such as ":1".
    const std::string& name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

} // namespace testing_support
