#include "platform/qt/WinApp.h"
