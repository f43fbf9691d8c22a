#include "cli/StderrMessages.h"

#include <iostream>

namespace kestrune {

void StderrMessages::error(const std::string& text)
{
    ++m_errors;
    std::cerr << "kestrune-cli: " << text << '\n';
}

bool StderrMessages::confirm(const std::string& question, std::optional<ScreenPoint>)
{
    std::cerr << "kestrune-cli: " << question << " -- answered No\n";
    return false;
}

void StderrMessages::askParticle()
{
    std::cerr << "kestrune-cli: note: the particle has no energy; the lattice file should carry a momentum\n";
}

} // namespace kestrune
