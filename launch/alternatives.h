// Opening a channel that has alternative addresses (dataroot/
// alternatives_file.h): its own address is tried first, then the others in
// playlist order, and the first whose server takes a connection is the one
// opened. An address whose server cannot be told (udp, rtp) or looked up is
// taken as it is; when every server refuses, the first address is opened
// and the player says why it fails.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/network.h"

// The host and TCP port of a media address ("scheme://[user@]host[:port]/"),
// the scheme's own port when none is given; false for connectionless
// schemes (udp, rtp) and addresses without a host.
bool addressServer(const std::string& address, std::string& host, int& port);

// The addresses of link `link` in the order they are tried: `address` (the
// link's own) first, then those of the other link numbers of its line in
// VESTRALUME/1/alternatives.tsv that the URL directory has as media
// addresses.
std::vector<std::string> addressesToTry(int link, const std::string& address);

// The first of `addresses` whose server `tryServer` does not refuse, each
// given at most `timeoutMilliseconds`; the first address when all refuse.
using ServerTry = std::function<ServerAnswer(const std::string& host, int port, int timeoutMilliseconds)>;
std::string firstAnsweringAddress(const std::vector<std::string>& addresses, const ServerTry& tryServer,
                                  int timeoutMilliseconds);

// What opening link `link` (whose own address is `address`) hands on: the
// address itself when it has no alternatives, otherwise the first that
// answers (1.5 s each at most).
std::string addressToOpen(int link, const std::string& address);
