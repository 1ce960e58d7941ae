// A one-file user of the table library, built with pkg-config alone:
//   c++ consumer.cpp $(pkg-config --cflags --libs BfTwiceNatAddrPort)
// It builds an entry and prints its text form.
#include <iostream>

#include "BfTwiceNatAddrPort/BfTwiceNatAddrPort"
#include "BfTwiceNatAddrPort/Version.h"

int main() {
    namespace Bf = BfTwiceNatAddrPort;
    auto match = Bf::twiceNatAddrPortMatchSpecFactory();
    match->ingMdNatKeyIdIs(1);
    match->l4PortHdrSrcPortIs(1024);
    match->l4PortHdrDstPortIs(80);
    Bf::TwiceNatAddrPortTableEntry entry(match);
    entry.actionIs(Bf::actionSpecOf(Bf::twiceNatAddrPortHitActionSpec, 5, 6, 2));
    std::cout << "BfTwiceNatAddrPort " << Bf::kVersion << ": " << entry << "\n";
    return 0;
}
