// The kernel families a test can run on this CPU.
#ifndef VARNETS_TESTS_KERNEL_FAMILIES_H
#define VARNETS_TESTS_KERNEL_FAMILIES_H

#include <cstdio>
#include <vector>

#include "varnets/filter.h"

// The families this CPU runs; the others are named once per test program,
// as not tested here.
inline const std::vector<varnets::kernel>& kernels_here() {
    using varnets::kernel;
    static const std::vector<kernel> here = [] {
        std::vector<kernel> out;
        for (kernel k : {kernel::scalar, kernel::avx2, kernel::avx512, kernel::neon}) {
            if (varnets::kernel_available(k))
                out.push_back(k);
            else
                std::printf("the %s kernels cannot run on this CPU: not tested\n",
                            varnets::kernel_name(k));
        }
        return out;
    }();
    return here;
}

#endif
