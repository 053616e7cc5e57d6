#include "app/VersionInfo.h"
