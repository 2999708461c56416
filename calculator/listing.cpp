#include "listing.h"

#include "statements.h"

namespace calculator {

namespace {
constexpr int kConsole = 6;
}

void LIST_PLANES(const std::int32_t& results_unit, const std::int32_t* IH, const std::int32_t* IK,
                 const std::int32_t* IL, const float* D, const float* THETA, const std::int32_t& NPLANES) {
    const std::int32_t rows = (NPLANES + 1) / 2;
    write_prepared<prepared::kTableHeader>(results_unit);
    write_prepared<prepared::kTableHeader>(kConsole);
    for (std::int32_t r = 0; r < rows; ++r) {
        // Left half: plane r; right half: plane rows + r (the cleared entry
        // n + 1 when n is odd).  Both angles are printed doubled.
        const std::int32_t s = rows + r;
        const float left_angle = 2.0f * THETA[r];
        const float right_angle = 2.0f * THETA[s];
        for (int unit : {static_cast<int>(results_unit), kConsole}) {
            write_prepared<prepared::kTableRow>(unit, &IH[r], &IK[r], &IL[r], &D[r], &left_angle, &IH[s], &IK[s],
                                                &IL[s], &D[s], &right_angle);
        }
    }
}

}  // namespace calculator
