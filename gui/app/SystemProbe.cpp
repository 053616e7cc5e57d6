#include "gui/app/SystemProbe.h"

#include "net/LinuxSocketLayer.h"
#include "base/SystemVersion.h"

namespace {

class CSystemProbe : public ISystemProbe {
public:
    bool GetSystemVersion(unsigned* major, unsigned* minor) override {
        return GetKernelVersion(major, minor);
    }
    bool HasRawSocketRights() override { return RawSocketAvailable(); }
};

}  // namespace

std::shared_ptr<ISystemProbe> CreateSystemProbe() {
    return std::make_shared<CSystemProbe>();
}
