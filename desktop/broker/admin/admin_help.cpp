#include "desktop/broker/admin/admin_help.h"

namespace pendrel::desktop {

std::string_view admin_help_text() {
  return R"(pendrel-desktop: keeps your hosts and runs pendrel's requests on them

The service:
  pendrel-desktop serve              run in the foreground, logging to standard error
  pendrel-desktop --headless         run in the background (what pendrel starts)
  pendrel-desktop status [--json]    whether it runs: pid, version, socket, hosts
  pendrel-desktop stop               end it and wait until it is gone
  pendrel-desktop broker [--socket PATH] [--state-dir DIR] [--account NAME]
  broker is the system service that keeps every person's vault, hosts, rules and audit
  under an account of its own (pendrel-broker.service).

Hosts (HOST is an id or a name):
  pendrel-desktop host add NAME --address ADDR [--port N] [--user USER]
                  [--protocol SSH|LOCAL] [--tag TAG]... [--cli on|off] [--json]
                  [--password] [--key FILE] [--key-passphrase] [--agent on|off]
                  [--legacy on|off] [--connect-timeout SECONDS] [--max-duration SECONDS|off]
  pendrel-desktop host set HOST [--name NAME] [the options of add] [--no-tags]
  pendrel-desktop host remove HOST
  pendrel-desktop host list [--json]
  pendrel-desktop host show HOST [--json]
  Defaults: --port 22, --user the current user, --protocol SSH, --cli off. A LOCAL host
  runs on this machine as you and needs no --address. Each --tag of `set` replaces the tags.
  --password and --key-passphrase are asked, never taken from the command line; --key
  imports the file's text into the vault (the file may be deleted afterwards). With a vault,
  add, set and remove ask for the master password.
  SSH hosts: --legacy on also offers older key exchanges, host-key types, ciphers and MACs
  (after the modern ones) for old devices; --connect-timeout (1 to 3600, default 10) bounds
  connecting; --max-duration ends a request that runs longer (default off).

Host keys (the SSH server's key, checked before anything is sent; kept in the vault):
  pendrel-desktop hostkey trust HOST [--fingerprint SHA256:...] [--json]
  pendrel-desktop hostkey reject HOST [--fingerprint SHA256:...] [--json]
  pendrel-desktop hostkey forget HOST [--json]
  pendrel-desktop hostkey list HOST [--json]
  trust connects to the address and port the vault holds for HOST and accepts the key the
  server presents: only the key --fingerprint names, else after a yes on the terminal; it
  replaces a trusted key of the same type. reject refuses a key (the server's current one
  unless --fingerprint names it); forget drops what is known. The keys belong to the
  address and port, so hosts sharing them share their keys. Each asks the master password.

The vault (passwords, keys and where they may be sent):
  pendrel-desktop init               create it (asks for the new master password twice)
  pendrel-desktop init --import      move the data directory's vault into the broker
  pendrel-desktop unlock             let the running service use it
  pendrel-desktop lock [--all]       forget it again; --all also refuses every request
  pendrel-desktop passwd             change the master password
  --password-fd N (init, unlock, passwd, host add|set|remove, hostkey, rules, cli,
  autolock, pin) reads each password as one line from descriptor N instead of the terminal:
  for scripts, and anyone who can read that descriptor or what is behind it learns it.

Switches:
  pendrel-desktop cli on|off         allow command-line access (pendrel) at all
  pendrel-desktop autostart on|off   let pendrel start the service when it is not running
  pendrel-desktop autolock MINUTES   lock the open vault after MINUTES unused (0: never)
  With a vault, cli and autolock ask for the master password; the vault keeps both.

Dangerous-command rules (checked on every exec before it runs):
  pendrel-desktop rules list [--json]        the built-in and your rules, on or off
  pendrel-desktop rules add NAME PATTERN     a rule of yours: RE2, anchored at a command start
  pendrel-desktop rules remove NAME          remove one of yours (built-ins can be disabled)
  pendrel-desktop rules enable|disable NAME
  pendrel-desktop rules block on|off         on: block a match outright; off: ask at a console
                                             (with none attached, a match is blocked)
  With a vault the rules are kept in it, and every rules command asks for the master
  password; settings.json can then only add to them.
  Checked: every line and every command after ; && || | & ( $( ` { ! then do and the like,
  past prefixes (sudo, env, timeout, nohup, xargs and its options, a path), the command of
  find's -exec, -execdir, -ok and -okdir, and the script given to sh -c or eval.

The approval console (a rule match is put to you there instead of blocked):
  pendrel-desktop console            watch every request live; approve or refuse each match
  pendrel-desktop pin set|clear      the approval PIN, kept in the vault
  Approving takes the PIN or the master password (a key alone never approves); r refuses,
  q quits. A match waits up to 60 s. pin set|clear ask the master password (--password-fd N).

Terminals (a shell on a saved host, logged in with the vault's credentials):
  pendrel-desktop term HOST [--password-fd N]          open a terminal on HOST and attach
  pendrel-desktop attach TERMINAL [--password-fd N]    attach to an open terminal
  pendrel-desktop terminals [--json]                   the open terminals
  Both ask the master password or the PIN first (none while no vault exists); a question
  of the login (a verification code) and a host key not yet trusted are put to you on the
  terminal. Ctrl-\ detaches; the terminal keeps running until its shell exits, and the
  last output is shown again at the next attach, which takes over from an attached client.
  The command ends with the shell's exit status.

The audit log:
  pendrel-desktop log [-n N] [-f]    the last N (10) requests; -f keeps following

  pendrel-desktop help | --help | -h

Exit codes: 0 success, 1 bad input or a failed operation, 2 no such host,
3 the service is not running (status, unlock).
The data directory is $PENDREL_DATA_DIR, else $XDG_CONFIG_HOME/pendrel or ~/.config/pendrel.
With a broker ($PENDREL_BROKER_SOCKET, or the installed one), every command but stop,
autostart, help and the terminals' runs there, on your state in the broker.
)";
}

}  // namespace pendrel::desktop
