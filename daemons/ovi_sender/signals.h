// Signal handlers of the daemon and its subprocesses.  Handlers only record
// what happened (and the SIGPIPE handler passes the signal on); the work a
// signal asks for is done by the daemon's service loop.
#ifndef DAEMONS_OVI_SENDER_SIGNALS_H_
#define DAEMONS_OVI_SENDER_SIGNALS_H_

// Creates the pipe on which the SIGCHLD handler wakes the service loop and
// installs the SIGCHLD and SIGPIPE handlers (empty mask, no flags).  Returns
// 1 on success.
int ovi_installDaemonHandlers();

// Read end of that pipe (non-blocking), or -1.
int ovi_childPipe();

// Empties the pipe; returns 1 when the SIGCHLD handler ran since the last
// call.
int ovi_takeChildEvents();

// Installs the handlers of a forwarding subprocess (empty mask, no flags).
// Returns 1 on success.
int ovi_installSubprocessHandlers();

void catch_sigchld(int signo);
void catch_sigalrm(int signo);
void catch_sigusr1(int signo);
void catch_sigusr2(int signo);
void catch_sigpipe(int signo);

#endif  // DAEMONS_OVI_SENDER_SIGNALS_H_
