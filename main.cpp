// OLDiscovery: finds Orvalink devices on the local network. Arguments are ignored.
#include <QApplication>

#include "app/OLDiscoveryApp.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    theApp.InitInstance();
    return 0;
}
