#include "app/SystemProbe.h"

#include "platform/LinuxSocketLayer.h"
#include "platform/SystemVersion.h"

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
