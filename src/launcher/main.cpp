// GleanerQt's entry point: the Qt half of the launcher. The flow itself is in Launcher.cpp.
#include "dataGleaner/dataGleaner.h"
#include "launcher/Launcher.h"

#include <QApplication>
#include <QFileDialog>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    launcher::LauncherHost host;
    host.applicationDir = QCoreApplication::applicationDirPath().toStdWString();
    host.pickFolder = [](const char* caption, const std::wstring& startDir) {
        return QFileDialog::getExistingDirectory(nullptr, QObject::tr(caption), QString::fromStdWString(startDir),
                                                 QFileDialog::ShowDirsOnly)
            .toStdWString();
    };
    host.runEngine = runGleaner;
    return launcher::runLauncher(launcher::settings, host);
}
