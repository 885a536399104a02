#pragma once
// The shapes every line of the progress log can take.

#include <string>
#include <vector>

// The lines of a log that match no known shape; a last line without its newline counts too,
// unless it is the closing prompt.
std::vector<std::string> MalformedLines(const std::string& log);
