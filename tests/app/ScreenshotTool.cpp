// Takes a picture of the main dialog in each shipped language (and of the
// About box and the spectrum window during a run) against the virtual adapter, and checks that no control is
// clipped or overlapping. Run under an X server (tools/screenshots.sh runs it
// under Xvfb):
//   app_screenshots OUTPUT_DIR
// Exit code 0 when every picture was written and every layout is clean.
#include "DialogTestSupport.h"

#include "app/AboutDlg.h"
#include "app/DialogLayout.h"
#include "audio/SpectrumWnd.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>

#include <cmath>
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
    about.hide();

    // The spectrum window during an Analyze run on the 450 Hz line, taken
    // while the tone sounds.
    language->setCurrentIndex(1);
    emit language->activated(1);
    dialog->OnShowSpectrum();
    CSpectrumWnd* spectrum = dialog->SpectrumWindow();
    dialog->OnBnClickedStart();
    // Two blocks in a row with the tone: the second lies wholly inside it.
    int hitAt = -10;
    const auto toneTwice = [&] {
        const int block = spectrum->BlocksShown();
        if (std::abs(spectrum->SpectrumView().MarkedFrequency() - 450.0) >= 6)
            return false;
        if (block == hitAt + 1)
            return true;
        if (block != hitAt)
            hitAt = block;
        return false;
    };
    const bool heard = parvane::test::WaitFor([&] { return dialog->Run().IsAnalysing(); }, 20000) &&
                       parvane::test::WaitFor(toneTwice, 20000);
    const QString spectrumFile = outputDir + "/parvane-spectrum.png";
    if (!heard) {
        std::fprintf(stderr, "the spectrum window never showed the 450 Hz tone\n");
        ++failures;
    } else if (!spectrum->grab().save(spectrumFile)) {
        ++failures;
    }
    dialog->OnBnClickedStop();
    std::printf("%s\n", qPrintable(spectrumFile));
    return failures == 0 ? 0 : 1;
}
