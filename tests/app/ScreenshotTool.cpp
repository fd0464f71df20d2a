// Takes a picture of the main dialog in each shipped language, of the About
// box, and of the spectrum window during a run on a clean and on a noisy line,
// against the virtual adapter, and checks that no control is clipped or
// overlapping. Run under an X server (tools/screenshots.sh runs it
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
#include <fstream>

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

    {
        // A child of the dialog on the stack: it must go before the dialog does.
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
    }

    // The spectrum window during an Analyze run on the 450 Hz line, clean and
    // with white noise 10 dB under the tone, taken after six seconds of the
    // tone's cadence while the tone sounds.
    const QString noisyLine = QDir::tempPath() + "/parvane-screenshot-noisy-line.ini";
    {
        std::ofstream scenario(noisyLine.toStdString());
        scenario << "[call]\ntone = 450/350,0/350\nlevel = -20\nnoise = -33\n";
    }
    struct Shot {
        const char* file;
        QString line;
    };
    for (const Shot& shot : {Shot{"parvane-spectrum.png", QString()}, Shot{"parvane-spectrum-noisy.png", noisyLine}}) {
        if (!shot.line.isEmpty()) {
            dialog.reset();
            parvane::test::UseVirtualAdapter(shot.line.toStdString());
            dialog = parvane::test::StartDialog();
            dialog->show();
            parvane::test::ProcessEventsFor(300);
            language = static_cast<QComboBox*>(dialog->Control(IDC_LANGUAGE));
        }
        language->setCurrentIndex(1);
        emit language->activated(1);
        dialog->OnShowSpectrum();
        CSpectrumWnd* spectrum = dialog->SpectrumWindow();
        dialog->OnBnClickedStart();
        const bool analysing = parvane::test::WaitFor([&] { return dialog->Run().IsAnalysing(); }, 20000);
        const double answeredMs = spectrum->Spectrogram().NowMs();
        const auto toneNow = [&] {
            return spectrum->Spectrogram().NowMs() > answeredMs + 6500 &&
                   std::abs(spectrum->Spectrogram().StrongestHz() - 450.0) < 6 &&
                   spectrum->Spectrogram().StrongestDbfs() > -30;
        };
        const bool heard = analysing && parvane::test::WaitFor(toneNow, 30000);
        const QString file = outputDir + "/" + shot.file;
        if (!heard) {
            std::fprintf(stderr, "%s: the spectrum window never showed the 450 Hz tone\n", shot.file);
            ++failures;
        } else if (!spectrum->grab().save(file)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(file));
            ++failures;
        }
        dialog->OnBnClickedStop();
        parvane::test::ProcessEventsFor(300);
        std::printf("%s\n", qPrintable(file));
    }
    return failures == 0 ? 0 : 1;
}
