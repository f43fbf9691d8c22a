#include "core/State.h"

namespace kestrune {

State::State() : fileBoxes(kMaxElements + 1), electron(electronRadiationConstants())
{
    history.reset(*this);
}

} // namespace kestrune
