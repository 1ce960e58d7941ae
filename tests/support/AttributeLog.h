#pragma once
// AttributeLog: a notifiee that records the attribute names an entity reports
// as changed, subscribed for its own lifetime.

#include <string>
#include <vector>

#include "kiv/PtrInterface.h"

namespace TestSupport {

class AttributeLog : public Kiv::Entity::Notifiee {
  public:
    explicit AttributeLog(Kiv::Entity& entity) : entity_(entity) { entity_.notifieeAdd(this); }
    ~AttributeLog() override { entity_.notifieeDel(this); }
    AttributeLog(const AttributeLog&) = delete;
    AttributeLog& operator=(const AttributeLog&) = delete;

    void onAttributeChange(const Kiv::Entity&, const char* attribute) override {
        changes.emplace_back(attribute);
    }
    std::vector<std::string> changes;

  private:
    Kiv::Entity& entity_;
};

}  // namespace TestSupport
