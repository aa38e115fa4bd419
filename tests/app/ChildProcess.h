#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A program started for a test with its standard output on a pipe the test
// reads as the program writes, and its standard error gathered in a file.
class ChildProcess
{
public:
    struct Outcome
    {
        int exitStatus = -1; // -1 when it did not exit normally
        std::string out;     // everything not yet read with ReadLine
        std::string err;
    };

    ChildProcess(const std::string& program, const std::vector<std::string>& args);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of standard output without its line feed; false at its end.
    bool ReadLine(std::string& line);

    // Reads standard output to its end and waits for the program.
    Outcome Finish();

    // Start, then Finish.
    static Outcome Run(const std::string& program, const std::vector<std::string>& args);

private:
    pid_t m_pid = -1;
    int m_outFd = -1;
    std::string m_errPath;
    std::string m_pending;
    bool m_finished = false;
};
