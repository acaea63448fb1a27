// Windows does not try servers before opening a channel: the first address
// of a channel is opened, as everywhere before alternatives existed.
#ifdef _WIN32

#include "platform/network.h"

ServerAnswer tryServer(const std::string&, int, int) { return serverUnknown; }

void runServerTries(std::function<void()> work) { work(); }

#endif
