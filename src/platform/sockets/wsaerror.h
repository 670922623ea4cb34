// The system's socket error numbers are those of Windows sockets; POSIX errno
// and resolver codes are mapped onto them here, for the link and the clients.
#pragma once

#include <string>

int WsaErrorFromErrno(int err);
int WsaErrorFromResolver(int gaiError);
// The fixed description of a number, empty for numbers without one.
std::string WsaErrorText(int wsaError);
