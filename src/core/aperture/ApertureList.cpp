#include "core/aperture/ApertureList.h"

#include "core/Constants.h"
#include "core/Format.h"

#include <cmath>

namespace kestrune {

std::vector<std::string> dynamicApertureLines(const DynamicAperture& da,
                                              const DynamicApertureSettings& settings)
{
    std::vector<std::string> lines = {
        "",
        separatorLine(),
        "   Dynamic aperture at the ring's start, " + std::to_string(settings.turns) +
            " turns, delta = " + fmt("%.3f", settings.delta * 100) + " %",
        "   physical aperture x = " + fmt("%.2f", settings.aperture.x * 1000) +
            " mm, y = " + fmt("%.2f", settings.aperture.y * 1000) + " mm; resolution " +
            fmt("%.3f", settings.resolution * 1000) + " mm",
        "   area = " + fmtOrNa("%.2f", apertureArea(da.angles, da.radius) * 1e6) + " mm^2;  sigma_x = " +
            fmtOrNa("%.4f", da.sigmaX * 1000) + " mm, sigma_y = " + fmtOrNa("%.4f", da.sigmaY * 1000) + " mm",
        separatorLine(),
        "   angle(deg)     r(mm)     x(mm)     y(mm)   x/sigma   y/sigma",
        separatorLine()};
    for (std::size_t i = 0; i < da.angles.size(); ++i) {
        const double r = da.radius[i];
        const double x = r * std::cos(da.angles[i]), y = r * std::sin(da.angles[i]);
        lines.push_back("   " + fmt("%10.3f", da.angles[i] * 180 / kPi) + fmtOrNa("%10.3f", r * 1000) +
                        fmtOrNa("%10.3f", x * 1000) + fmtOrNa("%10.3f", y * 1000) +
                        fmtOrNa("%10.2f", x / da.sigmaX) + fmtOrNa("%10.2f", y / da.sigmaY));
    }
    lines.push_back(separatorLine());
    return lines;
}

std::vector<std::string> momentumAcceptanceLines(const BeamLine& line, const MomentumAcceptance& ma,
                                                 const MomentumAcceptanceSettings& settings)
{
    const std::size_t nameWidth = nameColumnWidth(line);
    std::vector<std::string> lines = {
        "",
        separatorLine(),
        "   Local momentum acceptance, " + std::to_string(settings.turns) +
            " turns, rf acceptance = " + fmtOrNa("%.4f", ma.rfAcceptance * 100) + " %",
        "   physical aperture x = " + fmt("%.2f", settings.aperture.x * 1000) +
            " mm, y = " + fmt("%.2f", settings.aperture.y * 1000) + " mm; resolution " +
            fmt("%.4f", settings.resolution * 100) + " %",
        separatorLine(),
        "   element  name" + std::string(nameWidth - kShortNameLength, ' ') +
            "        s(m)   delta+(%)   delta-(%)",
        separatorLine()};
    for (std::size_t k = 0; k < ma.elements.size(); ++k) {
        const int e = ma.elements[k];
        const std::string name = e >= 1 && e <= line.count ? line.at(e).name : "";
        lines.push_back("   " + fmt("%7d  ", e) + nameField(name, nameWidth) + fmt("%10.3f", ma.s[k]) +
                        fmtOrNa("%12.4f", ma.deltaPlus[k] * 100) + fmtOrNa("%12.4f", ma.deltaMinus[k] * 100));
    }
    lines.push_back(separatorLine());
    return lines;
}

} // namespace kestrune
