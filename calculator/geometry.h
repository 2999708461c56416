// Cell geometry and plane enumeration of the plane-spacing calculator.
//
// One case (cell, condition codes, index bounds, spacing window, wavelength)
// becomes the plane table: the reciprocal cell, the walk over the Miller
// indices, the spacing and Bragg angle of every kept plane, and the sort by
// decreasing spacing.
//
// All values live in static storage for the whole run, under the names the
// rest of the calculator uses.  Arrays that are numbered from 1 in the
// listing and the data file (COND(1..7), SINA(1..3), COSA(1..3), the plane
// table entries 1..600) are stored 0-based: COND(1) is COND[0], entry n of
// the table is IH[n-1] and so on.
//
// Arithmetic is single precision throughout: every operation is done in
// float, so each intermediate result is rounded to single precision at once
// (the build forbids contraction into fused multiply-add).  The order of the
// operations is part of the result and is kept exactly as written in each
// routine.
#pragma once

#include <cstdint>

namespace calculator {

inline constexpr int MAX_PLANES = 600;

// Case inputs (set by the case reader).
extern float CELL[6];  // A, B, C, then ALPHA, BETA, GAMMA in radians
extern int COND[7];    // reflection-condition codes 1..7, stored 0-based
extern int HMAX, KMAX, LMAX;
extern float DMIN, DMAX, LAMBDA;

// Working values of RECIPROCAL_CELL.
extern float SINA[3], COSA[3];  // of ALPHA, BETA, GAMMA, stored 0-based
extern float ASTAR, BSTAR, CSTAR;
extern float ALSTAR, BESTAR, GASTAR;

// The plane table of the current case and its count.
extern int IH[MAX_PLANES], IK[MAX_PLANES], IL[MAX_PLANES];
extern float D[MAX_PLANES], THETA[MAX_PLANES];
extern int NPLANES;

// Angle constants of the calculation (single precision, as written).
inline constexpr float HALF_PI_APPROX = 1.570796f;    // 3 ulp below pi/2
inline constexpr float PI_ARC_COS_NEG = 3.1415925f;   // 1 ulp below pi
inline constexpr float PI_APPROX = 3.141592f;         // 3 ulp below pi
inline constexpr float ARC_COS_LIMIT = 1.0001f;

// Square root of a single-precision value.  A negative argument (-0.0 is
// not negative) is a domain error: it is reported in the run-time's
// math-error form, which ends the program.
float checked_sqrt(float x);

// Sine and cosine of the cell angles, the reciprocal edges and angles.
void RECIPROCAL_CELL();

// Arc cosine in radians, with the calculator's own constants near 0, 1, -1.
float ARC_COS(const float& x);

// Spacing d and Bragg angle theta (degrees) of the plane (h, k, l).  When
// 2d < LAMBDA there is no angle: theta is a quiet NaN.
void PLANE_SPACING(float& d, const int& h, const int& k, const int& l, float& theta);

// Walks the Miller indices of the current case and appends every plane that
// passes the condition codes and the spacing window, up to 600.
void ENUMERATE_PLANES(int (&ih)[MAX_PLANES], int (&ik)[MAX_PLANES], int (&il)[MAX_PLANES],
                      float (&d)[MAX_PLANES], float (&theta)[MAX_PLANES], int& nplanes);

// The same walk done plane by plane with PLANE_SPACING; the fast walk above
// must give the same table bit for bit.
void ENUMERATE_PLANES_REFERENCE(int (&ih)[MAX_PLANES], int (&ik)[MAX_PLANES],
                                int (&il)[MAX_PLANES], float (&d)[MAX_PLANES],
                                float (&theta)[MAX_PLANES], int& nplanes);

// The fast walk uses the widest vectors the processor offers; tests and
// measurements can hold it to the SSE2 baseline.
void use_baseline_walk(bool on);

// Tests: `observer` (null for none) is told of every row (h, k, l_first to
// l_last, with the twins (h, k, -l) when `twins`) that the fast walk leaves
// out because no plane of it can lie in the window.
using SkippedRowObserver = void (*)(int h, int k, int l_first, int l_last, bool twins);
void observe_skipped_rows(SkippedRowObserver observer);

// Sorts the first NPLANES entries by decreasing spacing into exactly the
// order the exchange sort gives (equal spacings included), in O(n log n).
void SORT_PLANES();

// The exchange sort itself, entry by entry; SORT_PLANES must give the same
// table.
void SORT_PLANES_REFERENCE();

// Number of planes the walk visits for the current bounds, as a 64-bit
// count (for measurements).
std::int64_t visited_plane_count();

}  // namespace calculator
