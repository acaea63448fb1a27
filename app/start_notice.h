// A short message for a desktop user when Quillon cannot start: started from
// a menu, nobody reads standard error.
#pragma once

#include <string>
#include <vector>

// Shows `lines` in a small window titled `title` in the middle of the
// desktop until the user presses a key, clicks or closes it, or `seconds`
// pass. Needs glutInit done and no window made yet.
void showStartNotice(const std::string& title, const std::vector<std::string>& lines, int seconds);
