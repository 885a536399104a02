#include "Console.h"

#include <stdio_ext.h>
#include <stdlib.h>
#include <unistd.h>

namespace sim {

namespace {

FILE* OpenTemporary() {
    FILE* pFile = tmpfile();
    if (pFile == nullptr) {
        perror("sim: tmpfile");
        abort();
    }
    return pFile;
}

}  // namespace

CapturedStdout::CapturedStdout() : m_pCapture(OpenTemporary()) {
    fflush(stdout);
    m_nSavedFd = dup(STDOUT_FILENO);
    dup2(fileno(m_pCapture), STDOUT_FILENO);
}

CapturedStdout::~CapturedStdout() {
    fflush(stdout);
    dup2(m_nSavedFd, STDOUT_FILENO);
    close(m_nSavedFd);
    fclose(m_pCapture);
}

std::string CapturedStdout::Text() {
    fflush(stdout);
    return Written();
}

std::string CapturedStdout::Written() const {
    std::string text;
    char buffer[4096];
    off_t nOffset = 0;
    for (;;) {
        const ssize_t nRead = pread(fileno(m_pCapture), buffer, sizeof(buffer), nOffset);
        if (nRead <= 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(nRead));
        nOffset += nRead;
    }
    return text;
}

ScriptedStdin::ScriptedStdin(std::string_view text) : m_pScript(OpenTemporary()) {
    fwrite(text.data(), 1, text.size(), m_pScript);
    fflush(m_pScript);
    lseek(fileno(m_pScript), 0, SEEK_SET);
    __fpurge(stdin);
    m_nSavedFd = dup(STDIN_FILENO);
    dup2(fileno(m_pScript), STDIN_FILENO);
    rewind(stdin);
}

ScriptedStdin::~ScriptedStdin() {
    __fpurge(stdin);
    dup2(m_nSavedFd, STDIN_FILENO);
    close(m_nSavedFd);
    clearerr(stdin);
    fclose(m_pScript);
}

long ScriptedStdin::Consumed() const {
    return ftell(stdin);
}

}  // namespace sim
