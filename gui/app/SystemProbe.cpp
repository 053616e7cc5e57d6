#include "gui/app/SystemProbe.h"

#include "base/SystemVersion.h"

namespace {

class CSystemProbe : public ISystemProbe {
public:
    explicit CSystemProbe(bool rawIcmpOpened) : m_rawIcmpOpened(rawIcmpOpened) {}
    bool GetSystemVersion(unsigned* major, unsigned* minor) override {
        const Result<KernelVersion> version = GetKernelVersion();
        if (!version)
            return false;
        *major = version->major;
        *minor = version->minor;
        return true;
    }
    bool HasRawSocketRights() override { return m_rawIcmpOpened; }

private:
    const bool m_rawIcmpOpened;
};

}  // namespace

std::shared_ptr<ISystemProbe> CreateSystemProbe(bool rawIcmpOpened) {
    return std::make_shared<CSystemProbe>(rawIcmpOpened);
}
