#pragma once
// Helpers for the main-dialog tests: one QApplication for the process, the
// virtual adapter set to a preset or a scenario file, trace lines collected,
// the program run as a subprocess.

#include "TraceLines.h"
#include "app/TestDlg.h"
#include "vadapter/VirtualAdapterDevice.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace parvane::test {

// The process's QApplication (created on first use).
void EnsureApplication();

// Processes Qt events until the condition holds or the time is up.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs);
// Processes Qt events for the given time.
void ProcessEventsFor(int milliseconds);

// Clicks a button of the dialog; types into one of its edit boxes.
void Click(QWidget* button);
void Type(CTestDlg& dialog, int id, const char* text);

// Writes a scenario file into a fresh temporary directory; returns its path.
std::string WriteScenario(const std::string& text);

// Chooses the virtual adapter (a preset name or a scenario path) for this
// process and starts it afresh. Message boxes close themselves at once.
VirtualAdapterDevice* UseVirtualAdapter(const std::string& presetOrPath);

// A main dialog on the chosen virtual adapter, started up.
std::unique_ptr<CTestDlg> StartDialog(DeviceClock clock = DeviceClock::System());

// A fixture whose tests each start with a main dialog on the virtual cn line.
class CnDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApplication();
        adapter = UseVirtualAdapter("cn");
        dialog = StartDialog();
    }
    void TearDown() override { dialog.reset(); }

    VirtualAdapterDevice* adapter = nullptr;
    std::unique_ptr<CTestDlg> dialog;
};

struct ProgramResult {
    int exitCode = -1;
    std::string output; // stdout and stderr
    uint32_t elapsedMs = 0;
};

// Runs build/bin/parvane with the arguments (offscreen, message boxes closing
// themselves) and waits for it to end, at most timeoutSeconds.
ProgramResult RunParvane(const std::string& arguments, int timeoutSeconds = 60);

} // namespace parvane::test
