#pragma once

namespace kestrune {

/// Registers the program's built-in resources (pictures, the unedited help text). The library is
/// static, so nothing registers them on its own; repeated calls do nothing.
void ensureResources();

} // namespace kestrune
