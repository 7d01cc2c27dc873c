#include "desktop/broker/rules/builtin_rules.h"

#include <algorithm>
#include <array>

namespace pendrel::desktop {
namespace {

// Pattern pieces. The text a pattern sees starts with the program's name and runs to the end
// of its line, so a piece that must stay inside one command excludes the separators.
#define ARGS R"((?:[^;&|\n]*\s)?)"  // any arguments, ending in a blank
// The end of a word: a blank, a separator, a redirection, a quote that closes the argument.
#define WORD_END R"((?:$|[\s;&|()<>'"`]))"
#define OPTION_END R"((?:$|[\s;&|()<>`]))"
#define QUOTES R"(["'\\]*)"
#define RECURSIVE_SHORT R"(-[A-Za-z]*[rR][A-Za-z]*)"
#define SYSTEM_DIRECTORY                                                                      \
  R"((?:bin|boot|dev|etc|home|lib|lib32|lib64|libx32|media|mnt|opt|proc|root|run|sbin|snap|)" \
  R"(srv|sys|tmp|usr|var))"
// `/`, `/*`, `~`, `$HOME`, `.`, `..` and the top-level system directories; WORD_END follows.
#define REMOVAL_TARGET \
  QUOTES               \
  R"((?:/+\*?|~/?\*?|\$\{?HOME\}?/?\*?|\.\.?/?|/+)" SYSTEM_DIRECTORY R"(/?\*?))" QUOTES
#define ROOT_TARGET QUOTES R"(/+\*?)" QUOTES
#define RECURSIVE_OPTION R"((?:-[A-Za-z]*[rR][A-Za-z]*|--recursive))"
// The glob of everything in the current directory: `*`, `./*`, `.*`.
#define GLOB_ALL QUOTES R"((?:\./)?\.?\*)" QUOTES
// What changes to `/` or the home directory: `cd /`, `cd ~`, `cd $HOME`, a bare `cd`.
#define CD_TO_ROOT_OR_HOME R"(cd(?:\s+)" QUOTES R"((?:/+|~/?|\$\{?HOME\}?/?))" QUOTES R"()?)"
// A program run by sudo or doas with their options, or by itself.
#define MAYBE_SUDO R"((?:(?:sudo|doas)(?:\s+-[^\s;&|]+)*\s+)?)"
// xargs's options, each with the value it may take (-n 1, -I {}, -0).
#define XARGS_OPTIONS R"((?:-[^\s;&|]+\s+(?:[^\s;&|-][^\s;&|]*\s+)?)*)"
// Inside a one-line script, a string that is `/` or a top-level system directory.
#define ROOT_STRING R"(r?["'\\]+(?:/+|/+)" SYSTEM_DIRECTORY R"(/?)["'\\])"
// Code that removes such a directory: rmtree or remove_tree of it, or a system call of rm -r
// on it (one string or a list).
#define ROOT_REMOVAL_CODE                                                                      \
  R"((?:\b(?:rmtree|remove_tree)\s*\(?\s*(?:path\s*=\s*)?)" ROOT_STRING                        \
  R"(|\b(?:system|popen|call|run|check_call|check_output|Popen|exec|qx)\s*[({]?\s*\[?\s*)"     \
  R"(["'\\]*)" MAYBE_SUDO R"((?:\S*/)?rm\b[^()\n]*?)" RECURSIVE_OPTION R"([^()\n]*?["'\\\s,])" \
  R"((?:/+|/+)" SYSTEM_DIRECTORY R"(/?)\*?["'\\\s,)]))"
// Whole disks and partitions, not /dev/null, /dev/zero or terminals.
#define DISK_DEVICE                                                                     \
  QUOTES                                                                                \
  R"(/dev/(?:sd[a-z]|hd[a-z]|vd[a-z]|xvd[a-z]|nvme\d|mmcblk\d|md\d|md/|dm-\d|mapper/|)" \
  R"(disk/|loop\d|nbd\d|rbd\d|sr\d|root))"

constexpr std::array rules = {
    BuiltinRule{
        "rm-root",
        R"(rm\s)" ARGS R"((?:(?:)" RECURSIVE_SHORT R"(|--recursive)\s)" ARGS REMOVAL_TARGET WORD_END
        R"(|)" REMOVAL_TARGET R"(\s)" ARGS R"((?:)" RECURSIVE_SHORT R"(|--recursive))" OPTION_END
        R"(|--no-preserve-root)" OPTION_END R"())",
        "递归强制删除根目录、家目录、当前目录或系统目录",
        "forced recursive removal of /, the home or current directory, or a system directory",
        "rm",
        "",
        7,
    },
    BuiltinRule{
        "mkfs",
        R"((?:mkfs(?:\.\w+)?|mke2fs))" OPTION_END,
        "创建文件系统（会抹掉设备上的数据）",
        "making a file system (erases the device)",
        "mkfs mkfs.* mke2fs",
        "",
        4,
    },
    BuiltinRule{
        "dd-device",
        R"(dd\s)" ARGS R"(of=)" DISK_DEVICE,
        "用 dd 写入磁盘设备",
        "dd writing onto a disk device",
        "dd",
        "/dev/",
        12,
    },
    BuiltinRule{
        "wipe-device",
        R"((?:shred|wipefs|blkdiscard)\s)" ARGS DISK_DEVICE,
        "擦除磁盘设备（shred、wipefs、blkdiscard）",
        "wiping a disk device (shred, wipefs, blkdiscard)",
        "shred wipefs blkdiscard",
        "/dev/",
        12,
    },
    BuiltinRule{
        "redirect-to-device",
        R"([^;|\n]*?>>?\|?\s*)" DISK_DEVICE,
        "把输出重定向到磁盘设备",
        "redirecting output onto a disk device",
        "",
        "> /dev/",
        0,
    },
    BuiltinRule{
        "power",
        R"((?:(?:shutdown|reboot|halt|poweroff|telinit))" OPTION_END R"(|init\s+[06])" OPTION_END
        R"(|systemctl\s)" ARGS R"((?:(?:poweroff|reboot|halt|kexec|soft-reboot))" OPTION_END
        R"(|(?:start|isolate)\s)" ARGS R"((?:poweroff|reboot|halt|kexec)\.target)))",
        "关机或重启",
        "shutting down or rebooting the machine",
        "shutdown reboot halt poweroff telinit init:6 systemctl:12",
        "",
        4,
    },
    BuiltinRule{
        "fork-bomb",
        // A function whose body starts two commands joined by | or &, the second in the
        // background: `:(){ :|:& };:`, `:(){ :&:& };:`, `function f { f|f& }`.
        R"((?:function\s+[\w:.-]+\s*(?:\(\s*\))?|[\w:.-]+\s*\(\s*\))\s*\{\s*)"
        R"([\w:.-]+\s*[|&]\s*[\w:.-]+\s*&\s*;?\s*\})",
        "fork 炸弹",
        "a fork bomb",
        "() function",
        "{ & }",
        0,
    },
    BuiltinRule{
        "chmod-root",
        R"((?:chmod|chown|chgrp)\s)" ARGS
        R"((?:(?:-[A-Za-z]*R[A-Za-z]*|--recursive)\s)" ARGS ROOT_TARGET WORD_END R"(|)" ROOT_TARGET
        R"(\s)" ARGS R"((?:-[A-Za-z]*R[A-Za-z]*|--recursive))" OPTION_END R"())",
        "递归修改根目录的权限或属主",
        "recursively changing the mode or owner of /",
        "chmod chown chgrp",
        "",
        9,
    },
    BuiltinRule{
        "kill-all",
        R"(kill\s+(?:(?:-s|-n|--signal)\s+[^\s;&|]+\s+|-[^\s;&|]+\s+)+-1)" OPTION_END,
        "向所有进程发送信号",
        "signalling every process",
        "kill",
        "-1",
        10,
    },
    BuiltinRule{
        "firewall-flush",
        R"((?:ip6?tables(?:-legacy|-nft)?\s)" ARGS R"((?:-[A-Za-z]*F[A-Za-z]*|--flush))" OPTION_END
        R"(|nft\s)" ARGS R"(flush\s+ruleset))" OPTION_END,
        "清空防火墙规则",
        "flushing the firewall rules",
        "iptables ip6tables iptables-legacy ip6tables-legacy iptables-nft ip6tables-nft nft:17",
        "",
        10,
    },
    BuiltinRule{
        "crontab-remove",
        R"(crontab\s)" ARGS R"(-[A-Za-z]*r[A-Za-z]*)" OPTION_END,
        "删除 crontab",
        "removing the crontab",
        "crontab",
        "",
        10,
    },
    BuiltinRule{
        "find-delete-root",
        R"(find\s)" ARGS QUOTES R"(/+\*?)" QUOTES R"(\s)" ARGS R"((?:-delete)" OPTION_END
        R"(|-(?:exec|execdir|ok|okdir)\s+)" MAYBE_SUDO QUOTES R"((?:\S*/)?rm)" QUOTES R"(\s))",
        "从根目录开始用 find 删除文件（-delete 或 -exec rm）",
        "find deleting files from / (-delete or -exec rm)",
        "find",
        "",
        13,
    },
    BuiltinRule{
        "git-force-push",
        R"(git(?:\s+-[Cc]\s+[^\s;&|]+|\s+--?[\w-]+(?:=[^\s;&|]*)?)*\s+push\s)" ARGS
        R"((?:(?:--force|-[A-Za-z]*f[A-Za-z]*))" OPTION_END R"(|)" QUOTES R"(\+[^\s;&|]))",
        "强制推送（--force、-f 或以 + 开头的 refspec，不含 --force-with-lease）",
        "a forced push (--force, -f or a +refspec, not --force-with-lease)",
        "git",
        "push",
        10,
    },
    BuiltinRule{
        "pipe-to-shell",
        R"((?:curl|wget)\s[^\n]*?\|\s*(?:(?:sudo|doas)(?:\s+-\S+(?:\s+\w+)?)*\s+)?)"
        R"((?:\S*/)?(?:ba|da|z|k|a)?sh(?:$|[\s;&|)`]))",
        "把下载的内容直接交给 shell 执行",
        "piping a download into a shell",
        "curl wget",
        "sh",
        0,
    },
    BuiltinRule{
        "rm-glob-after-cd",
        CD_TO_ROOT_OR_HOME R"(\s*(?:;|&&)\s*)" MAYBE_SUDO R"((?:\S*/)?rm\s)" ARGS
                           R"((?:)" RECURSIVE_OPTION R"(\s)" ARGS GLOB_ALL WORD_END R"(|)" GLOB_ALL
                           R"(\s)" ARGS RECURSIVE_OPTION OPTION_END R"())",
        "切换到根目录或家目录后紧接着递归删除 *",
        "recursive removal of * right after changing to / or the home directory",
        "cd",
        "*",
        0,
    },
    BuiltinRule{
        "xargs-rm-recursive",
        // As written, from the command's first word: xargs is a prefix, and the rule is about
        // what it feeds to rm.
        R"((?:[^\s;&|]+\s+)*?(?:\S*/)?xargs\s+)" XARGS_OPTIONS MAYBE_SUDO QUOTES
        R"((?:\S*/)?rm)" QUOTES R"(\s)" ARGS RECURSIVE_OPTION OPTION_END,
        "递归删除从输入读取的路径（xargs rm -r）",
        "recursive removal of paths read from input (xargs rm -r)",
        "",
        "xargs",
        0,
    },
    BuiltinRule{
        "write-device",
        R"((?:tee|truncate|mkswap)\s)" ARGS DISK_DEVICE,
        "用 tee、truncate 或 mkswap 写入磁盘设备",
        "tee, truncate or mkswap writing onto a disk device",
        "tee truncate mkswap",
        "/dev/",
        12,
    },
    BuiltinRule{
        "sysrq-trigger",
        R"((?:[^;|\n]*?>>?\|?\s*|tee\s)" ARGS R"(|dd\s)" ARGS R"(of=))" QUOTES
        R"(/proc/sysrq-trigger)",
        "写入 /proc/sysrq-trigger（立即重启、关机或让内核崩溃）",
        "writing to /proc/sysrq-trigger (reboots, powers off or crashes the kernel at once)",
        "",
        "/proc/sysrq-trigger",
        0,
    },
    BuiltinRule{
        "script-remove-root",
        // In the quoted script of -c or -e: rmtree or remove_tree of such a string, or a
        // system call of rm -r on it, as one string or as a list of them. Reading stops at
        // the script's closing quote, so that a start costs no more than its script.
        R"((?:python[\w.]*|perl)(?:\s+-[^\s;&|]*?)*?\s+-[A-Za-z]*[ceE]\s*)"
        R"((?:'[^']*?)" ROOT_REMOVAL_CODE R"(|"[^"]*?)" ROOT_REMOVAL_CODE R"())",
        "python -c 或 perl -e 单行脚本删除根目录或系统目录",
        "a python -c or perl -e one-liner removing / or a system directory",
        "python* perl",
        "",
        0,
    },
};

// A RuleSet files the built-ins in a 64-bit mask.
static_assert(rules.size() <= 64);

#undef ARGS
#undef WORD_END
#undef OPTION_END
#undef QUOTES
#undef RECURSIVE_SHORT
#undef SYSTEM_DIRECTORY
#undef REMOVAL_TARGET
#undef RECURSIVE_OPTION
#undef GLOB_ALL
#undef CD_TO_ROOT_OR_HOME
#undef MAYBE_SUDO
#undef XARGS_OPTIONS
#undef ROOT_STRING
#undef ROOT_REMOVAL_CODE
#undef ROOT_TARGET
#undef DISK_DEVICE

}  // namespace

std::span<const BuiltinRule> builtin_rules() {
  return rules;
}

const BuiltinRule* find_builtin_rule(std::string_view name) {
  auto found = std::ranges::find(rules, name, &BuiltinRule::name);
  return found == rules.end() ? nullptr : &*found;
}

}  // namespace pendrel::desktop
