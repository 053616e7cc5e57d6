#include <cstdio>
int main() {
    std::puts("OLDiscovery: the main dialog is not built yet.");
    return 0;
}
