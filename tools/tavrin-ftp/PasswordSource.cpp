#include "PasswordSource.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace tavrin::tool {

namespace {

termios savedTerminal;

// Ctrl+C at the prompt must not leave the terminal without echo.
void RestoreAndDie(int signal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

std::string ReadWithoutEcho() {
    const bool terminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &savedTerminal) == 0;
    if (terminal) {
        std::signal(SIGINT, RestoreAndDie);
        std::signal(SIGTERM, RestoreAndDie);
        termios quiet = savedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        // Only now: what is typed after the prompt shows must not be echoed.
        std::fputs("Password: ", stderr);
        std::fflush(stderr);
    }
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        std::fputc('\n', stderr); // the Enter that was not echoed
    }
    if (!read)
        throw std::invalid_argument("no password given (PASSWORD \"-\" reads it from standard "
                                    "input, or set TAVRIN_PASSWORD)");
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace

std::string ResolvePassword(const std::string& given) {
    if (given != "-")
        return given;
    if (const char* fromEnvironment = std::getenv("TAVRIN_PASSWORD"))
        return fromEnvironment;
    return ReadWithoutEcho();
}

} // namespace tavrin::tool
