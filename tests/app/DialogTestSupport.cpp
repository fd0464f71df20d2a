#include "DialogTestSupport.h"

#include "app/MessageBox.h"
#include "platform/AdapterIds.h"
#include "platform/DebugPrint.h"
#include "platform/ModuleDir.h"
#include "platform/Tick.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace parvane::test {

void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "app_dialog_tests";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) {
        auto* app = new QApplication(argc, argv);
        app->setApplicationName(QStringLiteral("Parvane"));
    }
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    const uint32_t start = GetTickCount32();
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (condition())
            return true;
        if (GetTickCount32() - start >= static_cast<uint32_t>(timeoutMs))
            return false;
        SleepMs(2);
    }
}

void ProcessEventsFor(int milliseconds)
{
    WaitFor([] { return false; }, milliseconds);
}

void Click(QWidget* button)
{
    static_cast<QAbstractButton*>(button)->click();
}

void Type(CTestDlg& dialog, int id, const char* text)
{
    static_cast<QLineEdit*>(dialog.Control(id))->setText(QString::fromUtf8(text));
}

std::string WriteScenario(const std::string& text)
{
    char pattern[] = "/tmp/parvane-app-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    const std::string path = std::string(dir != nullptr ? dir : "/tmp") + "/scenario.ini";
    std::ofstream(path) << text;
    return path;
}

VirtualAdapterDevice* UseVirtualAdapter(const std::string& presetOrPath)
{
    ::setenv(kVirtualAdapterEnv, presetOrPath.c_str(), 1);
    ::setenv(kMessageBoxTimeoutEnv, "0", 1);
    VirtualAdapterDevice* adapter = VirtualAdapterDevice::Instance();
    std::string error;
    EXPECT_NE(adapter, nullptr);
    if (adapter != nullptr) {
        EXPECT_TRUE(adapter->ResetFromEnvironment(&error)) << error;
    }
    return adapter;
}

std::unique_ptr<CTestDlg> StartDialog(DeviceClock clock)
{
    EnsureApplication();
    auto dialog = std::make_unique<CTestDlg>(nullptr, std::move(clock));
    dialog->OnInitDialog();
    return dialog;
}

ProgramResult RunParvane(const std::string& arguments, int timeoutSeconds)
{
    char pattern[] = "/tmp/parvane-out-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd >= 0)
        ::close(fd);
    const std::string command = "env QT_QPA_PLATFORM=offscreen " + std::string(kMessageBoxTimeoutEnv) +
                                "=0 timeout " + std::to_string(timeoutSeconds) + " '" + GetModuleDir() +
                                "parvane' " + arguments + " > " + pattern + " 2>&1";
    ProgramResult result;
    const uint32_t start = GetTickCount32();
    const int status = std::system(command.c_str());
    result.elapsedMs = GetTickCount32() - start;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(pattern);
    std::stringstream text;
    text << in.rdbuf();
    result.output = text.str();
    std::remove(pattern);
    return result;
}

} // namespace parvane::test
