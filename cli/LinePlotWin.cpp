// The Windows build draws no pictures: the drawing needs Qt, which that build
// has not. The command line already refuses --plot there; a caller that asks
// anyway gets the same reason.
#include "cli/LinePlot.h"

namespace parvane::cli {

bool WriteLinePlot(const std::string& path, const LinePlotData&, std::string& error)
{
    error = "cannot draw " + path + ": --plot is not part of the Windows build";
    return false;
}

} // namespace parvane::cli
