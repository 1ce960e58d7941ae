// Entry texts with object references: every malformed, stale, forged or wrongly
// typed reference is refused with an exception, never by touching unchecked
// memory. "@M", "@A" and "@D" stand for a live match spec, a live action spec and
// a released object, so seeds can name objects whose addresses vary per run.

#include <cstddef>
#include <cstdint>
#include <string>

#include "BfTwiceNatAddrPort/BfTwiceNatAddrPort"

namespace {

namespace Bf = BfTwiceNatAddrPort;

struct Objects {
    Bf::TwiceNatAddrPortMatchSpec::Ptr match = Bf::twiceNatAddrPortMatchSpecFactory();
    Bf::TwiceNatAddrPortHitActionSpec::Ptr action = Bf::twiceNatAddrPortHitActionSpecFactory();
    std::string matchText = Kiv::valueToStrepOfRawPtr(match.ptr());
    std::string actionText = Kiv::valueToStrepOfRawPtr(action.ptr());
    std::string deadText = Kiv::valueToStrepOfRawPtr(Bf::onMissActionSpecFactory().ptr());
};

std::string expand(const Objects& objects, const std::uint8_t* data, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '@' && i + 1 < size) {
            const char which = static_cast<char>(data[i + 1]);
            const std::string* ref = which == 'M'   ? &objects.matchText
                                     : which == 'A' ? &objects.actionText
                                     : which == 'D' ? &objects.deadText
                                                    : nullptr;
            if (ref) {
                text += *ref;
                ++i;
                continue;
            }
        }
        text += static_cast<char>(data[i]);
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Objects objects;
    const std::string text = expand(objects, data, size);
    try {
        const Bf::TwiceNatAddrPortTableEntry entry =
            Bf::TwiceNatAddrPortTableEntry::strepToValue(text);
        // Whatever parses names live objects of the right classes and prints back.
        (void)Bf::valueToStrep(entry);
    } catch (const Kiv::Exception&) {
    }
    return 0;
}
