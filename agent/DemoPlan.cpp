#include "DemoPlan.h"

#include <array>
#include <random>
#include <unordered_set>

namespace NatAgent {

namespace {

// Shares of the load that the demo changes afterwards, in percent.
constexpr std::uint64_t kModifyPercent = 10;
constexpr std::uint64_t kDeletePercent = 5;

struct Weighted {
    const char* name;
    unsigned weight;
    const char* target;  // the field the action forwards with, or null
    unsigned targetMax;
};

// Mostly static NAT bindings, dynamic ones next, ECMP for the load-balanced
// services, and a few explicit misses.
constexpr std::array kActions = {
    Weighted{"twiceNatAddrPortHit", 35, "nextHop", 1023},
    Weighted{"twiceNatAddrPortHitDynamic", 30, "nextHop", 1023},
    Weighted{"twiceNatAddrPortHitEcmp", 15, "ecmpGroup", 127},
    Weighted{"twiceNatAddrPortHitEcmpDynamic", 12, "ecmpGroup", 127},
    Weighted{"onMiss", 8, nullptr, 0},
};
constexpr std::array<std::uint16_t, 10> kServicePorts = {80,  443,  53,   22,   25,
                                                         123, 3306, 5432, 8080, 8443};
constexpr unsigned kNatInstances = 256;
constexpr unsigned kRewriteIds = 4095;

// Draws with the generator's own output only: std::mt19937_64 is the same
// everywhere, the standard distributions are not.
class Draw {
  public:
    explicit Draw(std::uint64_t seed) : rng_(seed) {}
    std::uint64_t upTo(std::uint64_t max) { return rng_() % (max + 1); }
    std::uint64_t between(std::uint64_t lo, std::uint64_t hi) { return lo + upTo(hi - lo); }
    bool percent(std::uint64_t p) { return upTo(99) < p; }

  private:
    std::mt19937_64 rng_;
};

struct Key {
    std::uint16_t natKeyId;
    std::uint16_t srcPort;
    std::uint16_t dstPort;

    std::uint64_t packed() const {
        return std::uint64_t{natKeyId} << 32 | std::uint64_t{srcPort} << 16 | dstPort;
    }
    std::string text() const {
        return "ingMdNatKeyId=" + std::to_string(natKeyId) +
               " l4PortHdrSrcPort=" + std::to_string(srcPort) +
               " l4PortHdrDstPort=" + std::to_string(dstPort);
    }
};

Key drawKey(Draw& draw) {
    Key key{};
    key.natKeyId = static_cast<std::uint16_t>(draw.between(1, kNatInstances));
    key.srcPort = static_cast<std::uint16_t>(draw.between(1024, 65535));
    key.dstPort = draw.percent(70) ? kServicePorts[draw.upTo(kServicePorts.size() - 1)]
                                   : static_cast<std::uint16_t>(draw.between(1024, 65535));
    return key;
}

const Weighted& drawAction(Draw& draw) {
    unsigned total = 0;
    for (const Weighted& a : kActions) {
        total += a.weight;
    }
    std::uint64_t pick = draw.upTo(total - 1);
    for (const Weighted& a : kActions) {
        if (pick < a.weight) {
            return a;
        }
        pick -= a.weight;
    }
    return kActions.back();
}

// "action=... rwId=... prot=... nextHop=..."
std::string drawActionText(Draw& draw, const Weighted& action) {
    std::string text = std::string("action=") + action.name;
    if (action.target != nullptr) {
        const std::uint64_t prot = draw.percent(65) ? 6 : draw.percent(85) ? 17 : 1;
        text += " rwId=" + std::to_string(draw.between(1, kRewriteIds)) +
                " prot=" + std::to_string(prot) + " " + action.target + "=" +
                std::to_string(draw.between(1, action.targetMax));
    }
    return text;
}

}  // namespace

DemoPlan makeDemoPlan(std::uint32_t entries, std::uint64_t seed) {
    Draw draw(seed);
    DemoPlan plan;
    std::vector<Key> keys;
    std::vector<std::string> actions;
    std::unordered_set<std::uint64_t> used;
    while (keys.size() < entries) {
        const Key key = drawKey(draw);
        if (!used.insert(key.packed()).second) {
            continue;
        }
        const Weighted& action = drawAction(draw);
        keys.push_back(key);
        actions.push_back(drawActionText(draw, action));
        ++plan.loadByAction[action.name];
        plan.load.push_back("add " + key.text() + " " + actions.back());
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::uint64_t roll = draw.upTo(99);
        if (roll < kModifyPercent) {
            actions[i] = drawActionText(draw, drawAction(draw));
            plan.modify.push_back("add " + keys[i].text() + " " + actions[i]);
        } else if (roll < kModifyPercent + kDeletePercent) {
            plan.remove.push_back("del " + keys[i].text());
            actions[i].clear();
        }
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (!actions[i].empty()) {
            plan.final.push_back("add " + keys[i].text() + " " + actions[i]);
        }
    }
    // Traffic that no binding matches goes to the punt path's next hop.
    plan.defaultLine = "default action=twiceNatAddrPortHit rwId=0 prot=0 nextHop=1";
    return plan;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return text;
}

}  // namespace NatAgent
