#pragma once

#include "cli/ApertureBatch.h"

#include <CLI/CLI.hpp>

namespace kestrune {

/// The aperture window's options of the batch tool.
inline void addApertureOptions(CLI::App& app, ApertureRequest& request)
{
    app.add_flag("--dynamic-aperture", request.dynamicAperture,
                 "the dynamic aperture at the ring's start by radial search (rf off,\n"
                 "at the momentum deviation of --da-delta) into the report's\n"
                 "\"dynamic_aperture\" section");
    app.add_option("--da-angles", request.angles, "--dynamic-aperture: rays from 0 to pi (21)")
        ->type_name("N");
    app.add_option("--da-turns", request.turns, "--dynamic-aperture, --da-grid: turns to survive (1000)")
        ->type_name("N");
    app.add_option("--da-delta", request.deltaPercent,
                   "--dynamic-aperture, --da-grid: momentum deviation in % (0)")
        ->type_name("PERCENT");
    app.add_option("--da-resolution", request.resolutionMm,
                   "--dynamic-aperture: resolution of the radial search in mm (0.1)")
        ->type_name("MM");
    app.add_option("--da-grid", request.grid,
                   "tracks a grid of NX by NY start amplitudes, x from -XMAX to XMAX\n"
                   "and y from YMAX/NY to YMAX (mm), into \"dynamic_aperture_grid\"")
        ->expected(4)
        ->allow_extra_args(false)
        ->type_name("NX NY XMAX YMAX");
    app.add_flag("--momentum-acceptance", request.momentumAcceptance,
                 "the local momentum acceptance at the element starts of one period\n"
                 "(rf on) into the report's \"momentum_acceptance\" section and\n"
                 "lifetime.touschek_local_acceptance_s");
    app.add_option("--ma-turns", request.maTurns, "--momentum-acceptance: turns to survive (512)")
        ->type_name("N");
    app.add_option("--ma-resolution", request.maResolutionPercent,
                   "--momentum-acceptance: resolution in % (0.01)")
        ->type_name("PERCENT");
    app.add_option("--ma-every", request.every, "--momentum-acceptance: the start of every K-th element (1)")
        ->type_name("K");
    app.add_option("--frequency-map", request.frequencyMap,
                   "the frequency map of NX by NY start amplitudes, x from XMAX/NX to\n"
                   "XMAX and y from YMAX/NY to YMAX in mm (or, with --fm-plane x-delta,\n"
                   "the momentum deviation from -YMAX to YMAX in %), rf off, into the\n"
                   "report's \"frequency_map\" section")
        ->expected(4)
        ->allow_extra_args(false)
        ->type_name("NX NY XMAX YMAX");
    app.add_option("--fm-turns", request.fmTurns, "--frequency-map: turns of each half, 16 to 100000 (512)")
        ->type_name("N");
    app.add_option("--fm-plane", request.fmPlane, "--frequency-map: xy (at --da-delta) or x-delta (xy)")
        ->type_name("PLANE");
    app.add_flag("--fm-per-turn", request.fmPerTurn,
                 "--frequency-map: the diffusion index of the tune change per turn");
    app.add_option("--fm-csv", request.fmCsv, "--frequency-map: writes its points to FILE.csv")
        ->type_name("FILE.csv");
    app.add_option("--physical-aperture", request.aperture,
                   "the scans' half apertures at every element in mm (30 15)")
        ->expected(2)
        ->allow_extra_args(false)
        ->type_name("X Y");
    app.add_option("--threads", request.threads,
                   "threads of the scans, 0 to 256 (0: every core); results do not\n"
                   "depend on it")
        ->type_name("N");
    app.add_option("--part", request.part,
                   "computes the K-th of N interleaved parts of the scans and of the\n"
                   "seeds of --seeds and writes it to the --report file instead of the\n"
                   "report, for --merge")
        ->type_name("K/N");
    app.add_option("--merge", request.merge,
                   "joins the part files of --part into the scans' sections, written to\n"
                   "the --report file (standard output without one); no LATTICE")
        ->expected(1, 100000)
        ->type_name("FILES");
}

} // namespace kestrune
