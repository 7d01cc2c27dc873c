// The service's settings file: the external-CLI switch, with room for the rules of later work.
#pragma once

namespace pendrel::desktop {

enum class ExternalCli { off, on };

struct Settings {
  // On by default: a person installs the service on purpose.
  ExternalCli external_cli = ExternalCli::on;
};

}  // namespace pendrel::desktop
