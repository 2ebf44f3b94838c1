// Names shared by every module of ovi_sender: attribute and option names,
// configuration keywords, fixed paths, the daemon's name and its global
// trace level.  Each constant is defined once, in globals.cc.
#ifndef DAEMONS_OVI_SENDER_GLOBALS_H_
#define DAEMONS_OVI_SENDER_GLOBALS_H_

// Report attributes and action-request options.
extern const char VANT_FORWARDED_BY[];   // host that already forwarded a report
extern const char VANT_RENDEZ_ADDR[];
extern const char TESSEL_RENDEZ_ADDR[];  // option: receiver IPv4 address
extern const char TESSEL_RENDEZ_PROG[];  // option: receiver RPC program
extern const char TESSEL_RENDEZ_VERS[];  // option: receiver RPC version
extern const char VANT_FILTER_FILE[];    // option: filter file name
extern const char VANT_ORX_NAME[];       // option: management database name
extern const char VANT_RECV_ORX[];       // option: receiving console (optional)
extern const char VANT_RENDEZ_PROG[];
extern const char VANT_RENDEZ_VERS[];
extern const char TESSEL_AGENT_PROG[];
extern const char TESSEL_PRIORITY[];
extern const char VANT_ERROR_CODE[];
extern const char VANT_ERROR_INDEX[];
extern const char VANT_ERROR_MESSAGE[];

// Paths, configuration keywords and names.  Fixed paths are opened through
// tessel_path() so that they follow OVI_ROOT.
extern const char agent_name[];          // "ovi_sender"
extern const char LOGFILE_KEYWORD[];
extern const char DEFAULT_LOGFILE[];
extern const char VANT_CONFIG_FILE[];
extern const char TESSEL_ACTIVITY_LOG[];
extern const char TESSEL_EVENT_LOG[];
extern const char TESSEL_MONITOR_LOG[];
extern const char TESSEL_REQUEST_LOG[];
extern const char TESSEL_SECURITY_GROUP_ONE[];
extern const char TESSEL_SECURITY_GROUP_TWO[];
extern const char TESSEL_SECURITY_GROUP_THREE[];
extern const char TESSEL_SECURITY_GROUP_FOUR[];
extern const char TESSEL_SECURITY_GROUP_FIVE[];
extern const char TESSEL_ALLOC_MANAGER_ID[];
extern const char TESSEL_FREE_MANAGER_ID[];
extern const char TESSEL_MANAGER_ID_DIR[];
extern const char TESSEL_MANAGER_ID_PREFIX[];

// Identity shown in the start-up and shut-down trace lines.
extern const char product_name[];
extern const char release[];
extern const char patch_level[];

// Report-log vocabulary: the header tag, the report kinds and the value types.
// The same letter stands for different things in the two sets.
extern const char VERSION[];
extern const char ACTION[], DATA[], EVENT[], DELETED[], ERROR[], SET[], TRAP[], USER[], UNKNOWN[];
extern const char ADDRESS[], COUNTER[], ENUM[], FLOAT[], GAUGE[], HEX[], INTEGER[], OID[],
    STRING[], TICKS[], TIME[], OCTETS[];

// The daemon's trace level (option -d); 0 writes nothing in normal operation.
extern int proxy_trace_level;

class Daemon;
namespace ovi {
// The one Daemon of this process, null until main has constructed it.  It
// lives in a namespace because <unistd.h> declares a function of that name.
extern Daemon* daemon;
}  // namespace ovi

#endif  // DAEMONS_OVI_SENDER_GLOBALS_H_
