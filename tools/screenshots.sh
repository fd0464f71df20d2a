#!/bin/bash
# Pictures of the main dialog in each shipped language, of the About box and
# of the spectrum window during an Analyze run on a clean and on a noisy line,
# taken under Xvfb against the virtual adapter, into screenshots/. Fails when
# a control is clipped or overlaps another.
#   tools/screenshots.sh [BUILD_DIR]      (make screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
cmake --build "$build" --target app_screenshots -j2
mkdir -p screenshots
# Message boxes (none are expected) close themselves.
PARVANE_MESSAGE_BOX_TIMEOUT_MS=0 xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/bin/app_screenshots" screenshots
