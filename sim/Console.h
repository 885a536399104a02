#pragma once
// The process's standard streams on the simulated machine: what the program writes to stdout
// is captured, and what it reads from stdin is scripted.

#include <stdio.h>

#include <string>
#include <string_view>

namespace sim {

// Captures standard output while it lives.
class CapturedStdout {
public:
    CapturedStdout();
    ~CapturedStdout();
    CapturedStdout(const CapturedStdout&) = delete;
    CapturedStdout& operator=(const CapturedStdout&) = delete;

    // Everything written so far.
    std::string Text();
    // What has reached the file itself: what a process killed now would leave.
    std::string Written() const;

private:
    FILE* m_pCapture = nullptr;
    int m_nSavedFd = -1;
};

// Feeds standard input from a script while it lives.
class ScriptedStdin {
public:
    explicit ScriptedStdin(std::string_view text);
    ~ScriptedStdin();
    ScriptedStdin(const ScriptedStdin&) = delete;
    ScriptedStdin& operator=(const ScriptedStdin&) = delete;

    // How many characters the program has taken.
    long Consumed() const;

private:
    FILE* m_pScript = nullptr;
    int m_nSavedFd = -1;
};

}  // namespace sim
