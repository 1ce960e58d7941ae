#include "BfrtTestSupport.h"

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
    static void protIs(BfRtTableData& data, uint64_t value) { data.fields_[1] = value; }
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
    if (status == 0 && readNatKeyId)
        keyFieldIs(*key, 1, *readNatKeyId);
    if (status == 0 && readProt)
        dataProtIs(*data, *readProt);
    if (status == 0 && readActionId)
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

std::string describe(const Bf::TwiceNatAddrPortTableEntry& entry) {
    if (!entry.match() || !entry.action())
        return entry.isDefaultValue() ? "empty" : "half-empty";
    const auto& m = *entry.match();
    const auto& a = *entry.action();
    U16 param = 0;
    if (auto* hit = dynamic_cast<const Bf::TwiceNatAddrPortHitActionSpec*>(&a))
        param = hit->nextHop();
    if (auto* hit = dynamic_cast<const Bf::TwiceNatAddrPortHitDynamicActionSpec*>(&a))
        param = hit->nextHop();
    if (auto* hit = dynamic_cast<const Bf::TwiceNatAddrPortHitEcmpActionSpec*>(&a))
        param = hit->ecmpGroup();
    if (auto* hit = dynamic_cast<const Bf::TwiceNatAddrPortHitEcmpDynamicActionSpec*>(&a))
        param = hit->ecmpGroup();
    const std::string type = a.kivType().name();
    return _fmt("nat=%u src=%u dst=%u %s(%u) rwId=%u prot=%u param=%u", m.ingMdNatKeyId(),
                m.l4PortHdrSrcPort(), m.l4PortHdrDstPort(),
                type.substr(type.rfind(':') + 1).c_str(), unsigned{a.actionType()}, a.rwId(),
                unsigned{a.prot()}, param);
}

Texts CallTexts::dataSets(const ActionCase& a, U64 rwId, U64 prot, U64 param) {
    Texts sets;
    const U64 values[] = {rwId, prot, param};
    for (U32 i = 0; a.firstField != 0 && i < 3; ++i) {
        sets.push_back(_fmt("BfRtTableData::setValue(field=%u, value=%llu)", a.firstField + i,
                            (unsigned long long)values[i]));
    }
    return sets;
}

std::string CallTexts::dataText(const ActionCase& a, U64 rwId, U64 prot, U64 param) {
    std::string text = "data=[action=" + std::to_string(a.actionId);
    const U64 values[] = {rwId, prot, param};
    for (U32 i = 0; a.firstField != 0 && i < 3; ++i)
        text += _fmt(" %u:%llu", a.firstField + i, (unsigned long long)values[i]);
    return text + "]";
}

Texts BfrtFixture::takeCalls() {
    const Texts chip = Chip::TestHooks::callLogTexts();
    Texts merged;
    auto request = keys->requests.begin();
    for (std::size_t i = 0; i <= chip.size(); ++i) {
        for (; request != keys->requests.end() && request->first == i; ++request)
            merged.push_back(request->second);
        if (i < chip.size())
            merged.push_back(chip[i]);
    }
    Chip::TestHooks::callLogClear();
    keys->requests.clear();
    return merged;
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
