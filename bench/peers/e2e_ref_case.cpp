// The arithmetic of one case for the gfortran reference (e2e_ref.f90): the
// calculator's reciprocal cell, walk and sort on a cleared plane table,
// copied out to the Fortran program's arrays.
#include <cstring>

#include "geometry.h"

using namespace calculator;

extern "C" void e2e_ref_case(const float* cell, const int* cond, float dmin, float dmax, int hmax, int kmax,
                             int lmax, float lambda, int* ih, int* ik, int* il, float* d, float* theta, int* n) {
    std::memcpy(CELL, cell, sizeof CELL);
    std::memcpy(COND, cond, sizeof COND);
    DMIN = dmin, DMAX = dmax, HMAX = hmax, KMAX = kmax, LMAX = lmax, LAMBDA = lambda;
    std::memset(IH, 0, sizeof IH), std::memset(IK, 0, sizeof IK), std::memset(IL, 0, sizeof IL);
    std::memset(D, 0, sizeof D), std::memset(THETA, 0, sizeof THETA);
    NPLANES = 0;
    RECIPROCAL_CELL();
    ENUMERATE_PLANES(IH, IK, IL, D, THETA, NPLANES);
    if (NPLANES >= 2) SORT_PLANES();
    std::memcpy(ih, IH, sizeof IH), std::memcpy(ik, IK, sizeof IK), std::memcpy(il, IL, sizeof IL);
    std::memcpy(d, D, sizeof D), std::memcpy(theta, THETA, sizeof THETA);
    *n = NPLANES;
}
