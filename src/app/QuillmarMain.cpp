// The program entry: one instance per user; a second start hands its address to the
// running instance and ends. The order of the start-up steps matters: the branding
// gives the configuration its default theme, the configuration fixes the document
// file's location and the language, and the browser menu's caption is translated.
#include "shell/Clock.h"
#include "shell/QuillmarInstance.h"
#include "shell/ReaderBranding.h"
#include "shell/ReaderConfig.h"
#include "shell/UIUtils.h"
#include "store/CompDoc.h"
#include "store/DocumentLocation.h"
#include "ui/Main.h"
#include "ui/UserInputFilter.h"

#include <QApplication>
#include <QFileInfo>
#include <cstdio>

namespace {

QStringList Arguments(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

bool HasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// The engine reuses free space but never shrinks the file: now and then, when a
// quarter of it is free, the closed file is rewritten without it. Exit must not fail
// for this; a file someone else holds is simply left for another time.
void CompactDocumentFile() {
    const QString fileName = DocumentFileName();
    if (!QFileInfo::exists(fileName))
        return;
    try {
        CompactStorageFile(fileName);
    } catch (const Exception& e) {
        std::fprintf(stderr, "quillmar: the document file was not compacted: %s\n", e.what());
    }
}

} // namespace

int main(int argc, char** argv) {
    PinLocalTimeZone();
    // A second instance announces its address and its show request, then ends without
    // loading anything and without a display.
    TQuillmar& instance = TQuillmar::CreateInstance(Arguments(argc, argv));
    if (instance.AlreadyRunning()) {
        instance.ActivateRunningInstance();
        TQuillmar::DestroyInstance();
        return 0;
    }
    if (!HasDisplay()) {
        std::fprintf(stderr, "quillmar: no display found (DISPLAY is not set); "
                             "try: xvfb-run ./run.sh\n");
        TQuillmar::DestroyInstance();
        return 1;
    }

    TBranding::Instance().Load();
    TConfiguration& configuration = TConfiguration::Instance();
    configuration.Load();
    TLanguageManager& languages = TLanguageManager::Instance();
    languages.ScanForLanguageFiles(TQuillmar::GetProgramFolder(), QStringLiteral("*.lng"), false);
    languages.SetLanguage(configuration.LanguageId);
    configuration.RegisterBrowserMenu();

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vantrell"));
    QApplication::setApplicationName(QStringLiteral("Quillmar"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quillmar Reader"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLMAR_VERSION));

    // The idle clock where the display server does not keep one.
    TUserInputFilter userInput;
    app.installEventFilter(&userInput);

    int result = 0;
    {
        TfrmMain window;
        QObject::connect(&instance, &TQuillmar::UrlPendingMessage, &window,
                         &TfrmMain::OnUrlPending);
        QObject::connect(&instance, &TQuillmar::ShowInstanceMessage, &window,
                         &TfrmMain::OnShowInstance);
        instance.StartListening();
        window.show();
        result = QApplication::exec();
    }
    // Every setting is saved when the main window is gone.
    configuration.Save();
    CompactDocumentFile();
    TQuillmar::DestroyInstance();
    return result;
}
