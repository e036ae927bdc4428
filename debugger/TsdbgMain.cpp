// tsdbg: the debugger window. "tsdbg ?" prints its command-line help (and
// shows it in a box when there is a display) without starting the window.
#include <QApplication>
#include <QMessageBox>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <vector>

#include "debugger/driver/TsdbgCommandLine.h"
#include "debugger/window/MainForm.h"
#include "debugger/window/QtText.h"
#include "support/Strings.h"

namespace {

bool EnvSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// A box needs someone to close it: not on the offscreen platform, nor
// without a display at all.
bool CanShowBox() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && (std::strncmp(platform, "offscreen", 9) == 0 || std::strncmp(platform, "minimal", 7) == 0))
        return false;
    return EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace ts;
    // The help check comes before the application object, as the window does not start.
    if (argc > 1 && IsHelpRequest(Utf8ToWide(argv[1]))) {
        const WideString exe = Utf8ToWide(std::filesystem::path(argv[0]).filename().string());
        const WideString text = HelpText(exe);
        std::cout << WideToUtf8(text) << std::endl;
        if (CanShowBox()) {
            QApplication app(argc, argv);
            QMessageBox::information(nullptr, ToQString(HelpTitle()), ToQString(text));
        }
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(ToQString(ApplicationTitle));
    // Qt has taken its own options (such as -platform) out of the arguments.
    std::vector<WideString> arguments;
    const QStringList all = QApplication::arguments();
    for (qsizetype i = 1; i < all.size(); ++i) arguments.push_back(ToWide(all[i]));
    TMainForm form(std::move(arguments));
    form.show();
    return app.exec();
}
