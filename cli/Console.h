#pragma once
// Where parvane-cli writes: results on stdout (text, or one JSON document),
// errors on the operator's stderr, and progress there too when it is a
// terminal. The libraries' trace lines also go to stderr; unless --verbose
// is given they are sent to /dev/null, and the operator's stderr is kept
// apart for the program's own messages.

#include <cstdio>
#include <functional>
#include <string>

namespace parvane::cli {

class Console {
public:
    // out and err as given (tests pass files of their own).
    Console(FILE* out, FILE* err, bool progressWanted);
    // A front with a window of its own: each error and progress line is
    // handed to `sink` (on the thread that writes it) instead of stderr;
    // results, which such a front does not print, would go to stdout.
    using Sink = std::function<void(bool error, const std::string& text)>;
    explicit Console(Sink sink);

    // Keeps the process's stderr for the program's messages and, unless
    // verbose, sends everything else written to descriptor 2 (the trace
    // lines of this program and of the libraries it loads) to /dev/null.
    static Console ForProcess(bool verbose);

    FILE* Out() const { return m_out; }
    void Error(const std::string& message);
    // A line of progress (replacing the previous one on a terminal).
    void Progress(const std::string& message);
    // Ends a progress line so that what follows starts on a line of its own.
    void EndProgress();
    bool ShowsProgress() const { return m_progress; }

private:
    FILE* m_out;
    FILE* m_err;
    bool m_progress;
    bool m_progressOpen = false;
    Sink m_sink;
};

} // namespace parvane::cli
