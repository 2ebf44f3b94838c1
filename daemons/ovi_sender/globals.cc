#include "globals.h"

const char VANT_FORWARDED_BY[] = "vant_forwarded_by";
const char VANT_RENDEZ_ADDR[] = "vant_rendez_addr";
const char TESSEL_RENDEZ_ADDR[] = "tessel_rendez_addr";
const char TESSEL_RENDEZ_PROG[] = "tessel_rendez_prog";
const char TESSEL_RENDEZ_VERS[] = "tessel_rendez_vers";
const char VANT_FILTER_FILE[] = "vant_filter_file";
const char VANT_ORX_NAME[] = "vant_orx_name";
const char VANT_RECV_ORX[] = "receiving_orx";
const char VANT_RENDEZ_PROG[] = "vant_rendez_prog";
const char VANT_RENDEZ_VERS[] = "vant_rendez_vers";
const char TESSEL_AGENT_PROG[] = "tessel_agent_prog";
const char TESSEL_PRIORITY[] = "tessel_priority";
const char VANT_ERROR_CODE[] = "vant_error_code";
const char VANT_ERROR_INDEX[] = "vant_error_index";
const char VANT_ERROR_MESSAGE[] = "vant_error_message";

const char agent_name[] = "ovi_sender";
const char LOGFILE_KEYWORD[] = "ovi_sender-log";
const char DEFAULT_LOGFILE[] = "/var/opt/ZEPHline/orx/ovi_sender.log";
const char VANT_CONFIG_FILE[] = "/etc/opt/ZEPHline/orx/orx.conf";
const char TESSEL_ACTIVITY_LOG[] = "activity-log";
const char TESSEL_EVENT_LOG[] = "event-log";
const char TESSEL_MONITOR_LOG[] = "monitor-log";
const char TESSEL_REQUEST_LOG[] = "request-log";
const char TESSEL_SECURITY_GROUP_ONE[] = "tessel_security_one";
const char TESSEL_SECURITY_GROUP_TWO[] = "tessel_security_two";
const char TESSEL_SECURITY_GROUP_THREE[] = "tessel_security_three";
const char TESSEL_SECURITY_GROUP_FOUR[] = "tessel_security_four";
const char TESSEL_SECURITY_GROUP_FIVE[] = "tessel_security_five";
const char TESSEL_ALLOC_MANAGER_ID[] = "_tessel_alloc_manager_id";
const char TESSEL_FREE_MANAGER_ID[] = "_tessel_free_manager_id";
const char TESSEL_MANAGER_ID_DIR[] = "/etc/opt/ZEPHline/orx/orx.id";
const char TESSEL_MANAGER_ID_PREFIX[] = "/etc/opt/ZEPHline/orx/orx.id/manager-id.";

const char product_name[] = "Product: ZEPHline ORX";
const char release[] = "Release: 1.0";
const char patch_level[] = "Patch level: 0";

const char VERSION[] = "#REPORTLOG-1";
const char ACTION[] = "A";
const char DATA[] = "D";
const char EVENT[] = "E";
const char DELETED[] = "K";
const char ERROR[] = "R";
const char SET[] = "S";
const char TRAP[] = "T";
const char USER[] = "U";
const char UNKNOWN[] = "?";
const char ADDRESS[] = "A";
const char COUNTER[] = "C";
const char ENUM[] = "E";
const char FLOAT[] = "F";
const char GAUGE[] = "G";
const char HEX[] = "H";
const char INTEGER[] = "I";
const char OID[] = "O";
const char STRING[] = "S";
const char TICKS[] = "T";
const char TIME[] = "U";
const char OCTETS[] = "X";

int proxy_trace_level = 0;

namespace ovi {
Daemon* daemon = nullptr;
}  // namespace ovi
