// Standard output carries the verdict line(s) and nothing else. Every program writes it
// through here, so that a step record holds exactly what went out.
#pragma once

#include <string_view>

void PrintOutput(std::string_view text);
