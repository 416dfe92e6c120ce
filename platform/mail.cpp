// The replaceable set of mail functions; the backends supply the real ones.
#include "platform/mail.h"

#include <atomic>

namespace platform {

namespace {
// Read by mail worker threads while the GUI thread may replace it.
std::atomic<const MailSystem*> current{nullptr};
}  // namespace

const MailSystem& mailSystem() {
    const MailSystem* s = current.load(std::memory_order_acquire);
    return s ? *s : realMailSystem();
}

void setMailSystem(const MailSystem* system) { current.store(system, std::memory_order_release); }

}  // namespace platform
