// Opening a channel that has alternative addresses (dataroot/
// alternatives_file.h): its own address is tried first, then the others in
// playlist order, and the first whose server takes a connection is the one
// opened. An address whose server cannot be told (udp, rtp) or looked up is
// taken as it is; when every server refuses, the first address is opened
// and the player says why it fails.
#pragma once

#include <functional>
#include <optional>
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

// Choosing among alternatives without keeping the wall waiting: the servers
// are tried by runServerTries, and the address chosen is taken from the
// wall's timer. Only the newest choice counts: a choice started before it
// stops at its next server and is never taken.
struct ChosenAddress {
    std::string address;
    std::string title;
};
void startChoosingAddress(std::vector<std::string> addresses, std::string title, ServerTry tryServer,
                          int timeoutMilliseconds);
// The newest choice once it is made, once; nothing while it is being made.
std::optional<ChosenAddress> takeChosenAddress();
// Forgets a choice being made, so that it is never taken (another channel
// was opened meanwhile).
void dropAddressChoice();

// Opens link `link`'s media address in the media player, titled `title`: at
// once when the channel has no alternatives; otherwise once a server
// answers (openChosenChannel), while the wall goes on.
void openMediaChannel(int link, const std::string& address, const std::string& title);
// Called from the wall's timer: hands the address chosen since to the player.
void openChosenChannel();
