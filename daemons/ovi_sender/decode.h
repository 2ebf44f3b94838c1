// Decoding one report in a forwarding subprocess: the trap path (message
// types 2 and 12: plain, database-manager and glyph-state traps) and the
// event path (type 4).  Each path classifies the report, asks the filter and
// builds the list of data to send on.
#ifndef DAEMONS_OVI_SENDER_DECODE_H_
#define DAEMONS_OVI_SENDER_DECODE_H_

#include "info_list.h"
#include "message_info.h"
#include "tessel/tessel_buffer.h"
#include "tessel/tessel_service_msg.h"

class Daemon;

// The state of the report being forwarded.
struct ReportState {
  TesselServiceMsg* msg;
  TesselArglist* arglist;
  TesselArglist* work1;
  TesselArglist* work2;
  const char* localHost;       // this host's name
  OVI_MessageInfo info;        // classification; cleared for every report
  char* host;                  // owned: the report's host, or a glyph's
  infoList* sendList;          // owned: the data to send, in order
  int dontSend;                // 1: the report must not reach this receiver
};

// The trap path.  Returns 1 when the report passed the filter and
// state->sendList holds its data; 0 when it is dropped.
int decodeTrap(Daemon* d, ReportState* state);

// The event path; the same results.
int decodeEvent(Daemon* d, ReportState* state);

// Fills *state for the message and takes the path its type asks for (2 and
// 12 traps, 4 events; any other type is dropped): the same results.  The
// caller frees state->sendList either way.
int decodeReport(Daemon* d, ReportState* state, TesselServiceMsg* msg, TesselArglist* arglist,
                 TesselArglist* work1, TesselArglist* work2, const char* localHost);

#endif  // DAEMONS_OVI_SENDER_DECODE_H_
