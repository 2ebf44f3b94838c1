// Reading the data of the current message (or of a given one).
#ifndef PLATFORM_VANT_VANT_FETCH_H_
#define PLATFORM_VANT_VANT_FETCH_H_

#include "tessel/tessel_service_msg.h"
#include "tessel/tessel_types.h"

// The next datum of msg (the current message when msg is null), in order;
// the datum after the last is named "tessel_endofargs", and the one after
// that is the first again.  Returns 0 when there is no message or its data
// are malformed.  Values stay valid while the message lives.
int vant_fetch_data(Tessel_data* datum, TesselServiceMsg* msg);

// The same, with the datum's threshold (relationalOp 0 when it has none).
int vant_fetch_event(Tessel_event* datum, TesselServiceMsg* msg);

// Summary of the current message; also sets its fetch cursor back to the
// first datum.  Returns non-zero when there is a current message.
int tessel_fetch_msginfo(Tessel_msginfo* info);

// The error record of the current message when it is an error report: code,
// index and text from its data "vant_error_code", "vant_error_index" and
// "vant_error_message" (0 and "" when absent).  Returns non-zero when the
// current message is an error report whose data can all be read.
int tessel_fetch_error(Tessel_error* error);

class TesselEntity {
 public:
  // The first datum of the current message named `name`.  Returns non-zero
  // when the current message carries it.
  static int fetchOption(const char* name, Tessel_data* arg);
};

// A node of a list of fetched data with owned copies of their values.
struct vant_tessel_data_list {
  short copied;                 // 1 when value holds a copy
  char name[TESSEL_NAME_SIZE];
  uint32_t type;
  uint32_t length;
  void* value;
  vant_tessel_data_list* next;
};

#endif  // PLATFORM_VANT_VANT_FETCH_H_
