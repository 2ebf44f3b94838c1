// Synchronisation of a receiver with its management database.
#include "daemon.h"
#include "log.h"

int Daemon::syncRendez(Request&) {
  ovi_trace(1, "Daemon::syncRendez\n");
  // The walk of the database comes with the synchronisation subprocess; until
  // then the request is only traced.
  ovi_trace(1, "synchronisation is not available yet: request ignored\n");
  return 0;
}
