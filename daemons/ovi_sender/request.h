// The arguments of one action request (register, delete, synchronise), as
// read from its options by Daemon::getRequestArgs.
#ifndef DAEMONS_OVI_SENDER_REQUEST_H_
#define DAEMONS_OVI_SENDER_REQUEST_H_

#include <netinet/in.h>
#include <stdint.h>

// Text members hold at most 254 characters and a NUL; longer option values
// are cut.
enum { REQUEST_TEXT_SIZE = 255 };

struct Request {
  struct in_addr rendez_addr;        // receiver host ("tessel_rendez_addr")
  uint32_t rendez_prog;              // receiver RPC program ("tessel_rendez_prog")
  uint32_t rendez_vers;              // receiver RPC version ("tessel_rendez_vers")
  char filter_file[REQUEST_TEXT_SIZE];  // "vant_filter_file"
  char orx_name[REQUEST_TEXT_SIZE];     // "vant_orx_name": the receiver's database
  char recv_orx[REQUEST_TEXT_SIZE];     // "receiving_orx", empty when absent
};

// Action flags of a request, tested in this order.
enum : unsigned int {
  ACTION_REGISTER = 0x80,
  ACTION_DELETE = 0x100,
  ACTION_SYNC = 0x200,
};

// On a report, flag 0x200 marks the closing report of a series.
enum : unsigned int { REPORT_LAST_OF_SERIES = 0x200 };

#endif  // DAEMONS_OVI_SENDER_REQUEST_H_
