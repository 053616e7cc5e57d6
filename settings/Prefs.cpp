#include "settings/Prefs.h"
