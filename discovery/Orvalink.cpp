#include "discovery/Orvalink.h"
