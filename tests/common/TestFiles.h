#pragma once

#include <string>

// The absolute path of a test's own file `name` in its process's temporary working directory
// (TestWorkingDirectory.cpp), which goes with everything in it when the process ends.
std::string testFilePath(const std::string& name);
