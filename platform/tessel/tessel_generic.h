// Writing and reading the data of a message.
#ifndef PLATFORM_TESSEL_TESSEL_GENERIC_H_
#define PLATFORM_TESSEL_TESSEL_GENERIC_H_

#include "tessel/tessel_service_msg.h"
#include "tessel/tessel_types.h"

class TesselGeneric {
 public:
  // Appends the datum to the message's argument data (the library copies
  // name and value; the datum may live on the stack).  Returns non-zero on
  // success, 0 when the datum cannot be encoded (see tessel_datumSize) or
  // memory is short; the message is unchanged then.
  int putData(const Tessel_data* datum, TesselServiceMsg* msg);

  // Appends an event datum with its threshold (when relationalOp != 0).
  int putEvent(const Tessel_event* datum, TesselServiceMsg* msg);
};

// Reads the datum at the message's fetch cursor and advances it.  After the
// end marker (which is delivered as a datum named "tessel_endofargs") the
// cursor goes back to the first datum; an empty argument list delivers the
// end marker at once.  Values stay valid while the message lives.  Returns 1
// on success, 0 when the data are malformed or memory is short.
int tessel_msgNextDatum(TesselServiceMsg* msg, Tessel_event* out);

// Sets the fetch cursor back to the first datum.
void tessel_msgRewind(TesselServiceMsg* msg);

// Finds the first datum with exactly this name, from the first datum on,
// without moving the fetch cursor.  Returns 1 when found.
int tessel_msgFindDatum(TesselServiceMsg* msg, const char* name, Tessel_event* out);

#endif  // PLATFORM_TESSEL_TESSEL_GENERIC_H_
