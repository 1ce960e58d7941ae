#include "BfrtTestSupport.h"

#include <cstdio>

namespace BfrtTest {
namespace {

// Filled from the objects' own seam below.
void (*keyFieldIs)(bfrt::BfRtTableKey&, uint32_t fieldId, uint64_t value) = nullptr;
void (*dataProtIs)(bfrt::BfRtTableData&, uint64_t value) = nullptr;
void (*dataActionIdIs)(bfrt::BfRtTableData&, uint32_t actionId) = nullptr;

}  // namespace
}  // namespace BfrtTest

namespace bfrt {

// The key and data objects leave these member classes to be defined: being
// members, they reach the stored values, and they hand out writers of values
// that the setters refuse.
struct BfRtTableKey::BfRtAccess {
    static void fieldIs(BfRtTableKey& key, uint32_t fieldId, uint64_t value) {
        key.fields_[fieldId - 1] = value;
    }
    static const bool published;
};
const bool BfRtTableKey::BfRtAccess::published = (BfrtTest::keyFieldIs = &fieldIs, true);

struct BfRtTableData::BfRtAccess {
    static constexpr int kProtSlot = 1;
    static void protIs(BfRtTableData& data, uint64_t value) { data.fields_[kProtSlot] = value; }
    static void actionIdIs(BfRtTableData& data, uint32_t actionId) { data.actionId_ = actionId; }
    static const bool published;
};
const bool BfRtTableData::BfRtAccess::published =
    (BfrtTest::dataProtIs = &protIs, BfrtTest::dataActionIdIs = &actionIdIs, true);

}  // namespace bfrt

namespace BfrtTest {

bfrt::Status ScriptedBfRtTable::tableEntryGet(const bfrt::BfRtSession& session,
                                              const bfrt::BfRtTarget& target, const uint64_t& flags,
                                              const uint32_t& handle, bfrt::BfRtTableKey* key,
                                              bfrt::BfRtTableData* data) const {
    const bfrt::Status status =
        OlvaneBfRtTable::tableEntryGet(session, target, flags, handle, key, data);
    if (status != 0)
        return status;
    if (readNatKeyId)
        keyFieldIs(*key, 1, *readNatKeyId);
    if (readProt)
        dataProtIs(*data, *readProt);
    if (readActionId)
        dataActionIdIs(*data, *readActionId);
    return status;
}

bfrt::Status ScriptedBfRtTable::tableDefaultEntrySet(const bfrt::BfRtSession& session,
                                                     const bfrt::BfRtTarget& target,
                                                     const uint64_t& flags,
                                                     const bfrt::BfRtTableData& data,
                                                     uint32_t* handle) const {
    const bfrt::Status status =
        OlvaneBfRtTable::tableDefaultEntrySet(session, target, flags, data, handle);
    *handle += defaultHandleShift;
    return status;
}

bfrt::Status ScriptedBfRtTable::attributeAllocate(
    const bfrt::TableAttributesType& type,
    std::unique_ptr<bfrt::BfRtTableAttributes>* attributes) const {
    return attributesWithheld ? 0 : OlvaneBfRtTable::attributeAllocate(type, attributes);
}

Kiv::MemAllocationTracker OrderedKeyManager::memAllocationTracker_{"BfrtTest::OrderedKeyManager"};

const Kiv::TypeInfo& OrderedKeyManager::kivTypeInfo() {
    static const Kiv::TypeInfo type{
        "BfrtTest::OrderedKeyManager", &MbbZabroKey::ZabroKeyManager::kivTypeInfo(), {}, {}};
    return type;
}

OrderedKeyManager::EntryKey OrderedKeyManager::alloc(const MatchPtrConst& match, bool reuseBound) {
    if (Chip::TestHooks::callLogEnabled()) {
        requests.push_back(
            {Chip::TestHooks::callLog().size(),
             "ZabroKeyManager::alloc(reuseBound=" + std::to_string(reuseBound) + ")"});
    }
    return ZabroKeyManager::alloc(match, reuseBound);
}

void OrderedKeyManager::free(EntryKey key) {
    if (Chip::TestHooks::callLogEnabled())
        requests.push_back({Chip::TestHooks::callLog().size(), "ZabroKeyManager::free()"});
    ZabroKeyManager::free(key);
}

std::ostream& operator<<(std::ostream& out, const Raised& raised) {
    return out << raised.kind << "(" << raised.status << ", \"" << raised.message << "\")";
}

Raised raisedBy(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const BfTable::BfTryAgain& e) {
        return {"BfTryAgain", e.status(), e.message()};
    } catch (const BfTable::BfDuplicateEntry& e) {
        return {"BfDuplicateEntry", e.status(), e.message()};
    } catch (const BfTable::BfNotSupported& e) {
        return {"BfNotSupported", e.status(), e.message()};
    } catch (const BfTable::BfTableFull& e) {
        return {"BfTableFull", e.status(), e.message()};
    } catch (const BfTable::BfNoSysResources& e) {
        return {"BfNoSysResources", e.status(), e.message()};
    } catch (const BfTable::BfTableException& e) {
        return {"BfTableException", e.status(), e.message()};
    }
    return {};
}

namespace {

U16 paramOf(const Bf::TwiceNatAddrPortBaseActionSpec& action) {
    if (auto* a = dynamic_cast<const Bf::TwiceNatAddrPortHitActionSpec*>(&action))
        return a->nextHop();
    if (auto* a = dynamic_cast<const Bf::TwiceNatAddrPortHitDynamicActionSpec*>(&action))
        return a->nextHop();
    if (auto* a = dynamic_cast<const Bf::TwiceNatAddrPortHitEcmpActionSpec*>(&action))
        return a->ecmpGroup();
    if (auto* a = dynamic_cast<const Bf::TwiceNatAddrPortHitEcmpDynamicActionSpec*>(&action))
        return a->ecmpGroup();
    return 0;
}

}  // namespace

std::string describe(const Bf::TwiceNatAddrPortTableEntry& entry) {
    if (!entry.match() && !entry.action())
        return "empty";
    if (!entry.match() || !entry.action())
        return "half-empty";
    const auto& m = *entry.match();
    const auto& a = *entry.action();
    std::string type = a.kivType().name();
    type = type.substr(type.rfind(':') + 1);
    char text[160];
    std::snprintf(text, sizeof text, "nat=%u src=%u dst=%u %s(%u) rwId=%u prot=%u param=%u",
                  m.ingMdNatKeyId(), m.l4PortHdrSrcPort(), m.l4PortHdrDstPort(), type.c_str(),
                  unsigned{a.actionType()}, a.rwId(), unsigned{a.prot()}, paramOf(a));
    return text;
}

BfrtFixture::BfrtFixture() {
    keyManager = nullptr;
    keys = Kiv::create<OrderedKeyManager>(
        Zabro::MbbZabroTableConfig::MbbZabroTableConfigIs(kDevice, kPipe));
    keyManager = keys;
}

BfrtFixture::~BfrtFixture() {
    table = nullptr;
    keys = nullptr;
}

void BfrtFixture::logOn() {
    Chip::TestHooks::callLogClear();
    keys->requests.clear();
    Chip::TestHooks::callLogEnable(true);
}

std::vector<std::string> BfrtFixture::takeCalls() {
    const std::vector<std::string> chip = Chip::TestHooks::callLogTexts();
    std::vector<std::string> merged;
    auto request = keys->requests.begin();
    for (std::size_t i = 0; i <= chip.size(); ++i) {
        for (; request != keys->requests.end() && request->chipCallsBefore == i; ++request)
            merged.push_back(request->text);
        if (i < chip.size())
            merged.push_back(chip[i]);
    }
    Chip::TestHooks::callLogClear();
    keys->requests.clear();
    return merged;
}

std::string BfrtFixture::tableCall(const std::string& method, const std::string& args,
                                   const std::string& table) {
    return "OlvaneBfRtTable::" + method + "(table=" + table + (args.empty() ? "" : ", " + args) +
           ")";
}

std::string BfrtFixture::target(U32 device, U32 pipe) {
    char text[40];
    std::snprintf(text, sizeof text, "[%02x 00 00 00 %02x %02x 00 00]", device, pipe & 0xFF,
                  pipe >> 8);
    return text;
}

std::string BfrtFixture::sessionTarget(U32 device, U32 pipe) {
    const U32 session = bfrt::deviceObjects(device).tableIntf->bfRtSessionGet()->sessHandleGet();
    return "sess=" + std::to_string(session) + ", target=" + target(device, pipe);
}

std::string BfrtFixture::keySet(U32 field, U64 value) {
    return "BfRtTableKey::setValue(field=" + std::to_string(field) +
           ", value=" + std::to_string(value) + ")";
}

std::vector<std::string> BfrtFixture::dataSets(const ActionCase& a, U64 rwId, U64 prot, U64 param) {
    if (a.firstField == 0)
        return {};
    std::vector<std::string> sets;
    const U64 values[] = {rwId, prot, param};
    for (U32 i = 0; i < 3; ++i) {
        sets.push_back("BfRtTableData::setValue(field=" + std::to_string(a.firstField + i) +
                       ", value=" + std::to_string(values[i]) + ")");
    }
    return sets;
}

std::string BfrtFixture::keyText(U64 natKeyId, U64 srcPort, U64 dstPort) {
    return "key=[1:" + std::to_string(natKeyId) + " 2:" + std::to_string(srcPort) +
           " 3:" + std::to_string(dstPort) + "]";
}

std::string BfrtFixture::dataText(const ActionCase& a, U64 rwId, U64 prot, U64 param) {
    std::string text = "data=[action=" + std::to_string(a.actionId);
    const U64 values[] = {rwId, prot, param};
    for (U32 i = 0; a.firstField != 0 && i < 3; ++i)
        text += " " + std::to_string(a.firstField + i) + ":" + std::to_string(values[i]);
    return text + "]";
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string assertion(const std::string& expression) {
    std::string pattern = "Assertion `";
    for (char c : expression) {
        if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos)
            pattern += '\\';
        pattern += c;
    }
    return pattern + "' failed";
}

}  // namespace BfrtTest
