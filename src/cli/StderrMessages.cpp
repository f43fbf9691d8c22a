#include "cli/StderrMessages.h"

#include <cerrno>
#include <cstring>
#include <iostream>

namespace kestrune {

void StderrMessages::error(const std::string& text)
{
    ++m_errors;
    m_shown.push_back(text);
    if (m_print)
        std::cerr << "kestrune-cli: " << text << '\n';
}

bool StderrMessages::confirm(const std::string& question, std::optional<ScreenPoint>)
{
    m_shown.push_back(question + " -- answered No");
    if (m_print)
        std::cerr << "kestrune-cli: " << m_shown.back() << '\n';
    return false;
}

void StderrMessages::askParticle()
{
    m_shown.push_back("the particle has no energy; the lattice file should carry a momentum");
    if (m_print)
        std::cerr << "kestrune-cli: note: " << m_shown.back() << '\n';
}

bool outputWritten(std::ostream& out, Messages& messages)
{
    // the write that failed left its reason in errno (it is read only after a failure)
    out.flush();
    if (out.good())
        return true;
    const int reason = errno;
    messages.error(std::string("cannot write to standard output: ") +
                   (reason != 0 ? std::strerror(reason) : "the stream refused the text"));
    return false;
}

} // namespace kestrune
