#include "GuiWait.h"

#include <QTest>

namespace guitest {

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
    return QTest::qWaitFor(condition, static_cast<int>(bound.count()));
}

}  // namespace guitest
