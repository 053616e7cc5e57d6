#include "platform/Privileges.h"
