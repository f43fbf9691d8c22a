#include "core/nonlinear/FrequencyMapCsv.h"

#include "core/Format.h"

namespace kestrune {

std::string frequencyMapCsv(const FrequencyMap& map, FrequencyMapPlane plane)
{
    const bool xy = plane == FrequencyMapPlane::XY;
    std::string csv =
        std::string("x_mm,") + (xy ? "y_mm" : "delta") + ",lost,lost_turn,qx1,qy1,qx2,qy2,diffusion\n";
    const auto number = [](double v) { return fmt("%.17g", v); };
    for (const FrequencyMapPoint& p : map.points) {
        csv += number(p.x * 1000) + "," + number(xy ? p.y * 1000 : p.y) + ",";
        if (p.computed)
            csv += p.lost ? "1" : "0";
        csv += ",";
        if (p.computed && p.lost)
            csv += std::to_string(p.lostTurn);
        const bool tunes = p.computed && !p.lost && p.tunesFound;
        for (const double v : {p.qx1, p.qy1, p.qx2, p.qy2, p.diffusion})
            csv += "," + (tunes ? number(v) : std::string());
        csv += "\n";
    }
    return csv;
}

} // namespace kestrune
