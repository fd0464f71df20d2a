#include "cli/Console.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace parvane::cli {

Console::Console(FILE* out, FILE* err, bool progressWanted) : m_out(out), m_err(err), m_progress(progressWanted) {}

Console::Console(Sink sink) : m_out(stdout), m_err(stderr), m_progress(true), m_sink(std::move(sink)) {}

#ifdef _WIN32

namespace {

// A progress line rewrites itself with a carriage return and an erase-line
// sequence: only on a console that takes such sequences. A pipe, a file or an
// older console gets whole lines only.
bool ConsoleTakesLineRewriting(DWORD stdHandle)
{
    HANDLE handle = GetStdHandle(stdHandle);
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

} // namespace

Console Console::ForProcess(bool verbose)
{
    FILE* err = stderr;
    const bool terminal = ConsoleTakesLineRewriting(STD_ERROR_HANDLE);
    if (!verbose) {
        const int kept = ::_dup(_fileno(stderr));
        const int null = ::_open("NUL", _O_WRONLY | _O_NOINHERIT);
        if (kept >= 0 && null >= 0) {
            if (FILE* own = ::_fdopen(kept, "w")) {
                // The C runtime takes line buffering as full buffering: each
                // message is flushed where it is written.
                std::fflush(stderr);
                ::_dup2(null, _fileno(stderr));
                err = own;
            }
        }
        if (null >= 0)
            ::_close(null);
    }
    return Console(stdout, err, terminal && !verbose);
}

#else

Console Console::ForProcess(bool verbose)
{
    FILE* err = stderr;
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    if (!verbose) {
        const int kept = ::dup(STDERR_FILENO);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (kept >= 0 && null >= 0) {
            ::fcntl(kept, F_SETFD, FD_CLOEXEC);
            if (FILE* own = ::fdopen(kept, "w")) {
                std::setvbuf(own, nullptr, _IOLBF, 0);
                std::fflush(stderr);
                ::dup2(null, STDERR_FILENO);
                err = own;
            }
        }
        if (null >= 0)
            ::close(null);
    }
    // In verbose mode trace lines interleave with progress: keep it to
    // whole lines then.
    return Console(stdout, err, terminal && !verbose);
}

#endif

void Console::Error(const std::string& message)
{
    if (m_sink) {
        m_sink(true, message);
        return;
    }
    EndProgress();
    std::fprintf(m_err, "parvane-cli: %s\n", message.c_str());
    std::fflush(m_err);
}

void Console::Progress(const std::string& message)
{
    if (!m_progress)
        return;
    if (m_sink) {
        m_sink(false, message);
        return;
    }
    std::fprintf(m_err, "\r%s\033[K", message.c_str());
    std::fflush(m_err);
    m_progressOpen = true;
}

void Console::EndProgress()
{
    if (m_progressOpen) {
        std::fputc('\n', m_err);
        std::fflush(m_err);
        m_progressOpen = false;
    }
}

} // namespace parvane::cli
