#include "platform/Messages.h"
