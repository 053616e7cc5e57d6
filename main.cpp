// OLDiscovery: finds Orvalink devices on the local network. Arguments are ignored.
#include <QApplication>

#include "app/OLDiscoveryApp.h"
#include "app/SecureStart.h"

int main(int argc, char* argv[]) {
    // Started with file capabilities: nothing the caller's environment names may load into us.
    if (IsSecureExecution())
        KeepOnlySessionEnvironment();
    // The toolkit's own options are arguments too; only the program name goes on.
    int toolkitArgc = argc > 0 ? 1 : 0;
    QApplication application(toolkitArgc, argv);
    theApp.InitInstance();
    return 0;
}
