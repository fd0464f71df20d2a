// What the spectrum window costs a run: the program's CPU time over wall time
// during an Analyze run with 32K blocks on the virtual China line (450 Hz,
// 350 ms on, 350 ms off), once with the window closed and once with it open,
// and the ratio of the two. Real time: about half a minute.
#include "DialogTestSupport.h"

#include "app/RunControl.h"
#include "audio/AudioGlobals.h"
#include "audio/SpectrumWnd.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr int kMeasuredMs = 8000;

double ProcessCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

double WallSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

// CPU share of one core while the run analyses; negative when the call was
// not answered.
double MeasureRun(CTestDlg& dialog, bool windowOpen)
{
    if (windowOpen)
        dialog.OnShowSpectrum();
    else if (dialog.SpectrumWindow() != nullptr)
        dialog.SpectrumWindow()->close();
    parvane::test::Click(dialog.Control(IDC_START));
    if (!parvane::test::WaitFor([&] { return dialog.Run().IsAnalysing(); }, 20000))
        return -1.0;
    parvane::test::ProcessEventsFor(1500); // the tone has begun
    const double cpu = ProcessCpuSeconds();
    const double wall = WallSeconds();
    parvane::test::ProcessEventsFor(kMeasuredMs);
    const double share = (ProcessCpuSeconds() - cpu) / (WallSeconds() - wall);
    parvane::test::Click(dialog.Control(IDC_STOP));
    return share;
}

} // namespace

int main()
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    parvane::test::EnsureApplication();
    parvane::test::UseVirtualAdapter("cn");
    auto dialog = parvane::test::StartDialog();
    if (CaptureBlockBytes != 32768) {
        std::fprintf(stderr, "bench_spectrum_window: the dialog starts with %d-byte blocks, not 32K\n",
                     static_cast<int>(CaptureBlockBytes));
        return 1;
    }
    const double closed = MeasureRun(*dialog, false);
    const double open = MeasureRun(*dialog, true);
    if (closed <= 0.0 || open <= 0.0) {
        std::fprintf(stderr, "bench_spectrum_window: a run was not answered\n");
        return 1;
    }
    std::printf("spectrum window, Analyze run with 32K blocks on the virtual cn line (%d s each)\n", kMeasuredMs / 1000);
    std::printf("  cpu_share_window_closed  %.4f  of one core\n", closed);
    std::printf("  cpu_share_window_open    %.4f  of one core\n", open);
    std::printf("  cpu_ratio_open_closed    %.2f\n", open / closed);
    return 0;
}
