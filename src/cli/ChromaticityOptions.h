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
                   "XP (mrad), Y (mm), YP (mrad) and, optionally, DELTA (%) and\n"
                   "L (mm), and prints after the lists the CSV of the turns as they\n"
                   "are computed (turn 0 the start): turn,x_mm,px_mrad,y_mm,py_mrad,\n"
                   "delta_percent,l_mm for the symplectic model (with the rf cavity\n"
                   "of a closed ring with an rf voltage), turn,x_mm,xp_mrad,y_mm,\n"
                   "yp_mrad for the linear one; a lost particle ends with \"# particle\n"
                   "was lost during turn # T after element E\"")
        ->expected(5, 7)
        ->allow_extra_args(false)
        ->type_name("TURNS X XP Y YP [DELTA L]");
    app.add_option("--tracking-model", request.trackingModel,
                   "--track: symplectic (default: the six-dimensional symplectic\n"
                   "integration with pole faces, chromatic terms and rf) or linear\n"
                   "(the linear maps with thin sextupole kicks, as before)")
        ->type_name("MODEL");
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
