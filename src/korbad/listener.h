// The listener: start-up checks, the listening socket, and the accept loop
// that forks one connection process per client.
#ifndef KORBAD_LISTENER_H_
#define KORBAD_LISTENER_H_

// Runs the service; returns only with an exit status for a failed start.
int korbad_main(int argc, char** argv);

#endif  // KORBAD_LISTENER_H_
