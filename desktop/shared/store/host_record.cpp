#include "desktop/shared/store/host_record.h"

namespace pendrel::desktop {

const char* protocol_name(HostProtocol protocol) {
  switch (protocol) {
    case HostProtocol::ssh:
      return "SSH";
    case HostProtocol::local:
      return "LOCAL";
  }
  return "SSH";
}

}  // namespace pendrel::desktop
