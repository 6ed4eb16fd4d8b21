// GleanerQt's entry point: the Qt half of the launcher. The flow itself is in Launcher.cpp.
#include "dataGleaner.h"
#include "HeadlessPlatform.h"
#include "Launcher.h"

#include <QApplication>
#include <QFileDialog>

namespace {

// Platforms that draw into memory only: a dialog there would wait for ever for nobody.
std::wstring noDialogReason()
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return QStringLiteral("Qt's '%1' platform shows no window").arg(platform).toStdWString();
    return {};
}

} // namespace

int main(int argc, char* argv[])
{
    launcher::chooseHeadlessPlatform(argc, argv);
    QApplication application(argc, argv);
    launcher::LauncherHost host;
    host.applicationDir = QCoreApplication::applicationDirPath().toStdWString();
    host.pickFolder = [](const char* caption, const std::wstring& startDir) {
        return QFileDialog::getExistingDirectory(nullptr, QObject::tr(caption), QString::fromStdWString(startDir),
                                                 QFileDialog::ShowDirsOnly)
            .toStdWString();
    };
    host.noDialogReason = noDialogReason();
    host.runEngine = runGleaner;
    return launcher::runLauncher(launcher::settings, host);
}
