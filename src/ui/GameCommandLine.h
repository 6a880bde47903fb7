// The game's command line: the launcher's own, then the login parameters, the configuration's
// custom parameters and the first line of luapath.txt (in the working directory), each exactly
// one argument whatever it holds. Any thread.
#pragma once

#include <string>

std::string BuildGameCommandLine(const std::string& loginParameters, const std::string& customParameters);
