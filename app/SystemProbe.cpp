#include "app/SystemProbe.h"

#include "platform/Privileges.h"
#include "platform/SystemVersion.h"

namespace {

class CSystemProbe : public ISystemProbe {
public:
    bool GetSystemVersion(unsigned* major, unsigned* minor) override {
        return GetKernelVersion(major, minor);
    }
    bool HasRawSocketRights() override { return HasNetRawPermitted(); }
};

}  // namespace

std::shared_ptr<ISystemProbe> CreateSystemProbe() {
    return std::make_shared<CSystemProbe>();
}
