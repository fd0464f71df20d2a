// Takes a picture of the main dialog in each shipped language (and of the
// About box) against the virtual adapter, and checks that no control is
// clipped or overlapping. Run under an X server (tools/screenshots.sh runs it
// under Xvfb):
//   app_screenshots OUTPUT_DIR
// Exit code 0 when every picture was written and every layout is clean.
#include "DialogTestSupport.h"

#include "app/AboutDlg.h"
#include "app/DialogLayout.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: app_screenshots OUTPUT_DIR\n");
        return 2;
    }
    const QString outputDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outputDir);
    parvane::test::EnsureApplication();
    parvane::test::UseVirtualAdapter("cn");
    auto dialog = parvane::test::StartDialog();
    dialog->show();
    parvane::test::ProcessEventsFor(300);

    int failures = 0;
    auto* language = static_cast<QComboBox*>(dialog->Control(IDC_LANGUAGE));
    const std::vector<std::string>& paths = dialog->Language().GetLanguagePaths();
    for (int i = 0; i < language->count(); ++i) {
        language->setCurrentIndex(i);
        emit language->activated(i);
        parvane::test::ProcessEventsFor(300);
        const QString name = QFileInfo(QString::fromStdString(paths.at(static_cast<size_t>(i)))).completeBaseName();
        const QString file = outputDir + "/parvane-" + name + ".png";
        if (!dialog->grab().save(file)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(file));
            ++failures;
        }
        const QStringList problems = parvane::FindLayoutProblems(dialog.get());
        for (const QString& problem : problems)
            std::fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(problem));
        failures += static_cast<int>(problems.size());
        std::printf("%s\n", qPrintable(file));
    }

    CAboutDlg about(dialog->windowIcon(), dialog.get());
    about.show();
    parvane::test::ProcessEventsFor(300);
    const QString aboutFile = outputDir + "/parvane-about.png";
    if (!about.grab().save(aboutFile))
        ++failures;
    for (const QString& problem : parvane::FindLayoutProblems(&about)) {
        std::fprintf(stderr, "About: %s\n", qPrintable(problem));
        ++failures;
    }
    std::printf("%s\n", qPrintable(aboutFile));
    return failures == 0 ? 0 : 1;
}
