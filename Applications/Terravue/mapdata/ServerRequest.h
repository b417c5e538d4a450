#pragma once

#include <string>
#include <string_view>

#include "Applications/Terravue/mapdata/MapState.h"

/// Form-encodes UTF-8 text for the server request: the letters, digits and
/// "!'()*-./:_~" stay, a blank becomes "+", every other byte "%" and two
/// lower-case hexadecimal digits.
[[nodiscard]] std::string FormEncode(std::string_view text);

/// The POST body that asks the server script for the interactive map of `state`.
[[nodiscard]] std::string BuildServerRequest(const MapState& state, const RequestContext& context);
