#pragma once

#include "cli/ChromaticityBatch.h"

#include <CLI/CLI.hpp>

namespace kestrune {

/// The chromaticity window's options of the batch tool.
inline void addChromaticityOptions(CLI::App& app, ChromaticityRequest& request)
{
    app.add_option("--chromaticity", request.wanted,
                   "runs the sextupole correction for the wanted ring chromaticities\n"
                   "(taken as the window's boxes take them): the SF and SD strengths\n"
                   "that give them are written into the line; status 1 when refused")
        ->expected(2)
        ->allow_extra_args(false)
        ->type_name("XI_X XI_Y");
    app.add_option("--save", request.saveFile,
                   "writes the lattice, after --set and --chromaticity, to FILE\n"
                   "(the current lattice file format)")
        ->type_name("FILE.lat");
    app.add_option("--track", request.track,
                   "tracks one particle TURNS turns around the ring from X (mm),\n"
                   "XP (mrad), Y (mm), YP (mrad) and prints, after the lists, the\n"
                   "CSV turn,x_mm,xp_mrad,y_mm,yp_mrad (turn 0 the start) and, for a\n"
                   "lost particle, a last line \"# particle was lost during turn # T\n"
                   "after element E\"")
        ->expected(5)
        ->allow_extra_args(false)
        ->type_name("TURNS X XP Y YP");
    app.add_option("--off-momentum", request.offMomentumPercent,
                   "--track: the particle's momentum deviation in %")
        ->type_name("PERCENT");
    app.add_option("--aperture", request.apertureMm, "--track: the particle is lost beyond |x| > MM")
        ->type_name("MM");
    app.add_flag("--sigmas", request.sigmas,
                 "--track: X XP Y YP are numbers of standard deviations of the\n"
                 "equilibrium beam (with the coupling of --set beam.coupling_percent)");
}

} // namespace kestrune
