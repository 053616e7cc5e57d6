// OLDiscovery: finds Orvalink devices on the local network. Arguments are ignored.
#include <QApplication>

#include <cstdio>
#include <memory>

#include "gui/app/OLDiscoveryApp.h"
#include "gui/app/QtPlugins.h"
#include "gui/app/SecureStart.h"
#include "gui/app/SystemProbe.h"
#include "gui/framework/Translation.h"
#include "net/LinuxSocketLayer.h"
#include "res/FailureText.h"

int main(int argc, char* argv[]) {
    // While this is the only thread: open the raw sockets and give up every capability, so that
    // no thread started later (the toolkit's included) holds one.
    RawSockets opened = OpenRawSockets();
    if (opened.dropFailure) {
        // As ping does: a program that cannot give up its privilege does not run with it.
        std::fprintf(stderr, "OLDiscovery: cannot drop capabilities: %s\n",
                     FailureText(opened.dropFailure).c_str());
        return 1;
    }
    // The packet socket goes to the resolver, the raw ICMP socket to the layer that sends on it.
    auto arp = std::make_shared<CLinuxArpResolver>(std::move(opened.link));
    auto sockets = std::make_shared<CLinuxSocketLayer>(std::move(opened), arp);
    // Started with file capabilities: nothing the caller's environment names, and nothing from a
    // folder the user may write, may load into us.
    const bool secure = IsSecureExecution();
    if (secure) {
        KeepOnlySessionEnvironment();
        if (!KeepQtPluginsInInstalledFolder()) {
            std::fprintf(stderr, "OLDiscovery: cannot keep Qt plugins to Qt's own folder\n");
            return 1;
        }
    } else {
        LeaveQtPluginsAsUsual();
    }
    // The toolkit's own options are arguments too; only the program name goes on.
    int toolkitArgc = argc > 0 ? 1 : 0;
    QApplication application(toolkitArgc, argv);
    if (secure && !QtPluginsOnlyFromInstalledFolder()) {
        std::fprintf(stderr, "OLDiscovery: Qt looked for plugins outside its own folder\n");
        return 1;
    }
    LoadTranslations(DesktopLanguages());
    // Wayland desktops match the window to its menu entry and icon by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.quarrin_velto.OLDiscovery"));
    COLDiscoveryApp program(CreateSystemProbe(sockets->RawIcmpOpened()), sockets, arp);
    program.InitInstance();
    return program.ExitCode();
}
