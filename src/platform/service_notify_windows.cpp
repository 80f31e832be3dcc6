// Windows has no service manager that listens for such messages: the
// notifier is never active and sends nothing.
#include "platform/service_notify.h"

namespace vorcnt {

ServiceNotifier::ServiceNotifier() = default;
ServiceNotifier::~ServiceNotifier() = default;
void ServiceNotifier::send(std::string_view) {}

}  // namespace vorcnt
