#pragma once

// The fixed paths of the e-reader that the add-on uses. Tests and the demo
// run in a private mount namespace in which /tmp and /mnt are fresh, so these
// stay exactly as on the device.
namespace zorvi {

// The user-visible storage: a file system of its own, mounted here while
// the reader is not connected to a computer by USB.
constexpr const char storageMount[] = "/mnt/onboard";
// The add-on's directory on the user-visible storage.
constexpr const char addonDir[] = "/mnt/onboard/.adds/zorvi";
constexpr const char switchFile[] = "/mnt/onboard/.adds/zorvi/disable-plugin";
// Created by the owner to remove the add-on at the next start of Nickel.
constexpr const char uninstallFile[] = "/mnt/onboard/.adds/zorvi/uninstall";
constexpr const char logFile[] = "/mnt/onboard/.adds/zorvi/plugin.log";

// Nickel's own settings, read for its language.
constexpr const char nickelConfigFile[] = "/mnt/onboard/.kobo/Kobo/Kobo eReader.conf";

// The companion daemon's socket.
constexpr const char daemonSocket[] = "/tmp/zorvid.sock";
// Where the add-on's archive installs the daemon and its keeper, and the
// udev rule that starts the keeper when Wi-Fi comes on.
constexpr const char daemonFolder[] = "/usr/local/zorvi";
constexpr const char daemonProgram[] = "/usr/local/zorvi/zorvid";
constexpr const char keeperProgram[] = "/usr/local/zorvi/zorvid-keeper";
constexpr const char udevRule[] = "/etc/udev/rules.d/98-zorvi.rules";

// Flag files shared with other processes.
constexpr const char updateReadyFlag[] = "/tmp/zorvi-update-ready";
constexpr const char rescanFlag[] = "/tmp/zorvi-rescan";
constexpr const char readingFlag[] = "/tmp/zorvi-reading";
// Touched by zorvid, at most every half minute, while a paired phone uses
// the dashboard.
constexpr const char phoneActiveFlag[] = "/tmp/zorvi-phone-active";

} // namespace zorvi
