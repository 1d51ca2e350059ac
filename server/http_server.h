// cpp-httplib's server with the one setting its build leaves out of reach: the queue of connections
// waiting for accept, built in at 5. A burst of clients that opens more at once overflows it, and the
// kernel drops their connection requests, which clients retry only after a second.
#pragma once

#include <httplib.h>
#include <sys/socket.h>

class THttpServer : public httplib::Server {
 public:
  // After bind_to_port or bind_to_any_port: lets up to the system's maximum wait (listen may be called
  // again on a listening socket to change its queue).
  bool WidenBacklog() { return ::listen(svr_sock_, SOMAXCONN) == 0; }
};
