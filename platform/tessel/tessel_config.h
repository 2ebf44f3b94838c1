// Fixed paths of the station and the framework configuration file.
//
// Every fixed absolute path of the system (data directory, configuration file,
// installation directory, database directory, /var/adm/messages, /dev/console)
// is opened through tessel_path(), which puts it below $OVI_ROOT when that
// variable is set and not empty.  No other code joins OVI_ROOT by hand.
#ifndef PLATFORM_TESSEL_TESSEL_CONFIG_H_
#define PLATFORM_TESSEL_TESSEL_CONFIG_H_

#include <string>

// The framework configuration file: one "keyword value" entry a line,
// '#' starts a comment line, the first entry of a keyword wins.
extern const char* const TESSEL_CONFIG_FILE;  // "/etc/opt/ZEPHline/orx/orx.conf"

// The daemon's status file: JSON that ovi_sender rewrites and ovi_status reads.
extern const char* const TESSEL_STATUS_FILE;  // "/var/opt/ZEPHline/orx/ovi_files/ovi_sender.status"

// Maps a fixed absolute path below $OVI_ROOT (when set and not empty);
// otherwise returns the path as it stands.
std::string tessel_path(const char* fixedPath);

// Value of the first configuration entry for key, or null when the file or
// the entry is missing.  The text stays valid until the next look-up of the
// same key; the file is read anew on every call so that edits are seen.
const char* tessel_getConfig(const char* key);

// Same look-up in an explicit file (already mapped); used by tests and tools.
// Returns 1 and fills value when the key is found, 0 otherwise.
int tessel_readConfigEntry(const char* file, const char* key, std::string* value);

#endif  // PLATFORM_TESSEL_TESSEL_CONFIG_H_
