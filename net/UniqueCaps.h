#pragma once
// Sole owner of a libcap capability state (cap_get_proc, cap_init): cap_free when it goes.
#include <sys/capability.h>

#include <memory>
#include <type_traits>

struct CapFree {
    void operator()(std::remove_pointer_t<cap_t>* caps) const { cap_free(caps); }
};
using UniqueCaps = std::unique_ptr<std::remove_pointer_t<cap_t>, CapFree>;
