#include "app/OLDiscoveryApp.h"

COLDiscoveryApp theApp;
