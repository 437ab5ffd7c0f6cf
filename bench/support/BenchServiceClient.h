// The service benchmarks' client: a record that points at a simulated
// daemon, and an installation check that passes at once, as the service
// tests set them up (no real client machine to check or start).
#pragma once

#include <cstdint>
#include <string>

#include "ClClientManager.h"
#include "RecordRegistry.h"

namespace bench {

class PassingInstallCheck : public ClClientManagerHooks {
 public:
  CWqError checkAndStart(const ClClientManager&, long long) override { return CWqError::Success(); }
  CWqError startClient(const ClClientManager&) override { return CWqError::Success(); }
};

// Client `clientId` "ibmi<id>" reached at 127.0.0.1:`port`.
inline void AddServiceClient(int32_t clientId, uint16_t port) {
  RecordRegistry& records = RecordRegistry::Instance();
  records.AddClient(clientId, "ibmi" + std::to_string(clientId), 118);
  records.SetClientValue(clientId, "NetworkHostname", std::string("127.0.0.1"));
  records.SetClientValue(clientId, "DisplayName", "IBM i " + std::to_string(clientId));
  records.SetClientValue(clientId, "KXDPort", static_cast<int>(port));
}

}  // namespace bench
