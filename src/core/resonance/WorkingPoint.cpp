#include "core/resonance/WorkingPoint.h"

#include "core/coupling/CoupledOptics.h"

namespace kestrune {

WorkingPoint workingPoint(const State& state)
{
    WorkingPoint point;
    if (!lineCouples(state.line)) {
        point.computed = true;
        point.tune1 = state.lf.tuneX;
        point.tune2 = state.lf.tuneY;
        return point;
    }
    point.eigentunes = true;
    const CoupledRing ring = coupledRing(state);
    if (!ring.computed) {
        point.refusal = ring.refusal;
        return point;
    }
    point.computed = true;
    point.tune1 = ring.tune1;
    point.tune2 = ring.tune2;
    return point;
}

} // namespace kestrune
