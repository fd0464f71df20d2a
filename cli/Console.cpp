#include "cli/Console.h"

#include <fcntl.h>
#include <unistd.h>

namespace parvane::cli {

Console::Console(FILE* out, FILE* err, bool progressWanted) : m_out(out), m_err(err), m_progress(progressWanted) {}

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

void Console::Error(const std::string& message)
{
    EndProgress();
    std::fprintf(m_err, "parvane-cli: %s\n", message.c_str());
    std::fflush(m_err);
}

void Console::Progress(const std::string& message)
{
    if (!m_progress)
        return;
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
