// Program entry: the application object, the main window, the message loop.
#include <cstdio>
#include <exception>
#include <memory>

#include "app/application.h"
#include "app/ownversion.h"
#include "app/umain.h"

int main(int argc, char** argv) {
    RegisterOwnVersion();
    std::unique_ptr<TApplication> application;
    try {
        application = std::make_unique<TApplication>(argc, argv);
        TFMain window;
        FMain = &window;
        window.DoCreate(QCoreApplication::arguments().mid(1));
        window.show();
        const int code = application->exec();
        FMain = nullptr;
        return code;
    } catch (const std::exception& error) {
        // Errors of the handlers are shown by the application and the loop goes
        // on; only what escapes the start or the loop itself ends up here.
        FMain = nullptr;
        if (application) TApplication::HandleException(error);
        else std::fprintf(stderr, "%s\n", error.what());
    }
    return 1;
}
