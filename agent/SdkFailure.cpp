#include "SdkFailure.h"

#include "BfTwiceNatAddrPort/TableExceptions.h"
#include "zabro/ZabroException.h"

namespace NatAgent {

namespace {

template <class E>
SdkFailure failure(const char* kind, const E& e) {
    return SdkFailure{kind, e.status(), e.what(), false};
}

}  // namespace

std::string SdkFailure::text() const {
    std::string text = kind;
    if (status != 0) {
        text += " (status " + std::to_string(status) + ")";
    }
    return text + ": " + message;
}

SdkFailure currentFailure() {
    try {
        throw;
    } catch (const BfTable::BfTryAgain& e) {
        SdkFailure f = failure("BfTryAgain", e);
        f.tryAgain = true;
        return f;
    } catch (const BfTable::BfDuplicateEntry& e) {
        return failure("BfDuplicateEntry", e);
    } catch (const BfTable::BfNotSupported& e) {
        return failure("BfNotSupported", e);
    } catch (const BfTable::BfTableFull& e) {
        return failure("BfTableFull", e);
    } catch (const BfTable::BfNoSysResources& e) {
        return failure("BfNoSysResources", e);
    } catch (const BfTable::BfTableException& e) {
        return failure("BfTableException", e);
    } catch (const Zabro::TableFullException& e) {
        return SdkFailure{"Zabro::TableFullException", 0, e.what(), false};
    } catch (const Zabro::KeyException& e) {
        return SdkFailure{"Zabro::KeyException", 0, e.what(), false};
    } catch (const Kiv::Exception& e) {
        return SdkFailure{"Kiv::Exception", 0, e.what(), false};
    } catch (const std::exception& e) {
        return SdkFailure{"std::exception", 0, e.what(), false};
    }
}

}  // namespace NatAgent
